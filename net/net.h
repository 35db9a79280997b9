// net.h — shared worlds: the ZVCP wire protocol and the client that speaks it.
//
// The first half is the wire module (library qm_net): message layouts,
// builders, parsers, the fixed-point rule and the receive ring. It depends on
// nothing but the C++ standard library, so that quillmoor-server links it
// too. The second half is the client (library qm_netclient): the connection
// to the server a world names, its states, the upcalls that change the scene
// and the senders; it names scene records only through the forward
// declarations below.
//
// Every length, count, identifier and string that comes off the wire is
// checked here before anybody reads it: a parser answers a result code, never
// reads past the bytes it was given and never loops on what it cannot read.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Sizes and codes

enum {
  ZVCP_HEADER_SIZE = 17,     // class 0: class, channel, sender, operation, length
  ZVCP_STEP_SIZE = 14,       // class 1: a character's frame step
  ZVCP_POSITION_SIZE = 27,   // class 2: a position
  ZVCP_MAX_MESSAGE = 200,    // longer messages are never dispatched
  ZVCP_MAX_BODY = ZVCP_MAX_MESSAGE - ZVCP_HEADER_SIZE,
  ZVCP_RING_SIZE = 10240,
  ZVCP_HELLO_SIZE = 7,       // "hello", 1, 1
  ZVCP_ANSWER_SIZE = 14,     // "hello\0" or "reject", two words
  ZVCP_REJECT_SIZE = 7,      // "reject" and one byte
  ZVCP_SOCKS_REPLY_SIZE = 8,
  ZVCP_MAX_TEXT = 173,       // the longest chat text that keeps op 6 kind 9 within 200 bytes
  // A body length beyond this is not a message that went long but a stream
  // that is not ours: it is not skipped but ends the connection.
  ZVCP_MAX_SKIP = 65536,
};

// Results. Builders answer the message size (> 0); parsers and the ring 0.
enum {
  ZVCP_OK = 0,
  ZVCP_E_FAIL = -1,
  ZVCP_E_NOFIT = -2,       // the ring has no room for the bytes
  ZVCP_E_SHORT = -3,       // fewer bytes buffered than asked for
  ZVCP_E_INCOMPLETE = -4,  // the next message has not arrived whole
  ZVCP_E_UNKNOWN = -5,     // unknown class, operation or kind
  ZVCP_E_TOO_LONG = -6,    // a message over 200 bytes (skipped)
  ZVCP_E_STRING = -7,      // a text without its terminating zero
  ZVCP_E_BODY = -8,        // a body whose length does not fit its layout
  ZVCP_E_RANGE = -9,       // a value out of range (fixed point, identifier, flag)
  ZVCP_E_STREAM = -10,     // a stream that cannot be ours: drop the connection
};

// Class 0 operations.
enum {
  ZVCP_OP_JOIN = 0,         // client → server: user name, avatar URL
  ZVCP_OP_YOUR_ID = 1,      // your identifier
  ZVCP_OP_ADD_OBJECTS = 2,  // identifier, second word, URL, optional name
  ZVCP_OP_SWITCH = 3,       // a switch object shows its first child
  ZVCP_OP_MYSELF = 4,       // the own avatar's identifier
  ZVCP_OP_TEXT5 = 5,        // two words and a text; not handled by the client
  ZVCP_OP_UPDATE = 6,       // object update, by kind
  ZVCP_OP_LEAVE = 7,        // reason byte; 3 when a client disconnects
  ZVCP_OP_MASTER = 8,       // 1 master, 0 not
  ZVCP_OP_COUNT = 9,
};

// Object update kinds (op 6).
enum {
  ZVCP_KIND_TRANSLATION = 0,  // 3 reals
  ZVCP_KIND_ROTATION = 1,     // 9 reals
  ZVCP_KIND_ROTTRANS = 2,     // 9 + 3 reals
  ZVCP_KIND_TEXT = 9,         // text
  ZVCP_KIND_EVENT = 11,       // event code, text
  ZVCP_KIND_APPL = 10000,     // procedure, argument
};
enum { ZVCP_FLAG_APPL = 2, ZVCP_FLAG_APPL_MASTER = 4 };
enum { ZVCP_LEAVE_DISCONNECT = 3 };
enum { ZVCP_STEP_FORWARD = 1, ZVCP_STEP_BACK = 255 };

// ---------------------------------------------------------------------------
// Values

// Reals travel as 32-bit integers: ×65535 out (truncated toward zero),
// ÷65536 in. A value that is not finite or does not fit is refused (-9).
int zvcpRealToWire(double value, int32_t* out);
double zvcpWireToReal(int32_t value);

void zvcpPutU16(uint8_t* at, uint16_t value);  // big-endian
void zvcpPutU32(uint8_t* at, uint32_t value);
uint16_t zvcpGetU16(const uint8_t* at);
uint32_t zvcpGetU32(const uint8_t* at);

// ---------------------------------------------------------------------------
// Builders. Each writes one whole message into out (capacity cap) and
// answers its size; with out null it answers the size alone (the size
// function). A message that would pass 200 bytes, a text too long for it,
// a real that does not fit or a buffer too small gives a negative result and
// writes nothing useful.

int zvcpBuildHello(uint8_t* out, size_t cap);
int zvcpBuildAnswer(uint8_t* out, size_t cap, uint32_t firstValue, uint32_t channel);
int zvcpBuildReject(uint8_t* out, size_t cap);
int zvcpBuildJoin(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender,
                  const char* userName, const char* avatarUrl);
int zvcpBuildYourId(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id);
// name may be null: the body then ends after the URL.
int zvcpBuildAddObjects(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender,
                        uint32_t id, uint32_t word, const char* url, const char* name);
int zvcpBuildSwitch(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id);
int zvcpBuildMyself(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id);
int zvcpBuildLeave(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint8_t reason);
int zvcpBuildMaster(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint8_t value);
// Op 6, kind 2: rotation row by row, then translation; 74 bytes.
int zvcpBuildRotTrans(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                      const float rotation[9], const float translation[3]);
int zvcpBuildTranslation(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender,
                         uint32_t id, const float translation[3]);  // kind 0
int zvcpBuildRotation(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender,
                      uint32_t id, const float rotation[9]);  // kind 1
int zvcpBuildText(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                  const char* text);  // kind 9
int zvcpBuildEvent(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                   uint32_t code, const char* text);  // kind 11
int zvcpBuildAppl(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                  int master, const char* procedure, const char* argument);  // kind 10000
int zvcpBuildText5(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t a,
                   uint32_t b, const char* text);
int zvcpBuildStep(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                  uint8_t direction);  // class 1
int zvcpBuildPosition(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                      const float translation[3]);  // class 2
// SOCKS version 4 connect: port and IPv4 address in host order.
int zvcpBuildSocks4(uint8_t* out, size_t cap, uint16_t port, uint32_t address,
                    const char* user);

// ---------------------------------------------------------------------------
// Parsers

// One message taken apart. Texts point into the parsed bytes (which must
// outlive the record) and are always terminated inside them; fields the
// message does not carry are left zero or null.
struct ZvcpMessage {
  uint8_t messageClass;   // 0, 1 or 2
  uint32_t channel;
  uint32_t sender;
  uint32_t op;            // class 0
  uint32_t length;        // class 0: body length
  uint32_t id;            // ops 1–4 and 6, classes 1 and 2
  uint32_t word;          // op 2's second word, op 5's first word
  uint32_t kind;          // op 6
  uint8_t flag;           // op 6
  uint32_t code;          // op 6 kind 11, op 5's second word
  uint8_t value;          // op 7 reason, op 8 master, class 1 direction
  const char* text;       // join: user; op 2: URL; kinds 9, 11, 10000: the (first) text; op 5
  const char* text2;      // join: avatar; op 2: name (null when absent); kind 10000: argument
  float reals[12];        // kinds 0 (3), 1 (9), 2 (12), class 2 (3)
  int realCount;
};

// The size a complete message starting with these bytes has, from its
// first bytes: > 0, ZVCP_E_INCOMPLETE when too few are given to tell, or
// ZVCP_E_UNKNOWN for a class byte that is not 0, 1 or 2. The size may pass
// 200 bytes; that is for the caller to refuse.
int64_t zvcpMessageSize(const uint8_t* bytes, size_t count);
// Takes apart one whole message of exactly size bytes. Unknown operations
// and kinds give -5, a text without its zero -7, a body whose length does
// not fit its layout -8, a rotation element beyond ±1 -9.
int zvcpParse(const uint8_t* bytes, size_t size, ZvcpMessage* out);

// The client's hello: 0 when it is one, -1 otherwise (seven bytes).
int zvcpParseHello(const uint8_t* bytes, size_t count);
// The server's answer (count bytes of it, 14 for a full answer): 0 accepted
// (first value and channel stored when the pointers are not null), 1
// rejected (six or more bytes beginning "reject"), -1 anything else.
int zvcpParseAnswer(const uint8_t* bytes, size_t count, uint32_t* firstValue,
                    uint32_t* channel);
// A SOCKS 4 reply of 8 bytes: 0 granted (status 90), -1 otherwise.
int zvcpParseSocks4Reply(const uint8_t* bytes, size_t count);

// ---------------------------------------------------------------------------
// The receive ring: 10240 bytes; one byte always stays free, so used bytes
// are (write − read) mod 10240. Headers that wrap around the end are read
// whole through a scratch copy.

struct ZvcpRing {
  uint8_t bytes[ZVCP_RING_SIZE];
  uint32_t read, write;
  uint64_t skip;  // bytes of an oversize message still to be thrown away
};
void zvcpRingReset(ZvcpRing* ring);
size_t zvcpRingUsed(const ZvcpRing* ring);
size_t zvcpRingFree(const ZvcpRing* ring);
int zvcpRingPut(ZvcpRing* ring, const void* bytes, size_t count);  // 0 or -2
int zvcpRingGet(ZvcpRing* ring, void* bytes, size_t count);        // 0 or -3
int zvcpRingPeek(const ZvcpRing* ring, void* bytes, size_t count); // 0 or -3
// The size of the next complete message: > 0, -4 not complete, -5 unknown
// class (with at least 14 bytes buffered, as a dispatch would see it).
int64_t zvcpRingMessageSize(const ZvcpRing* ring);
// The next message out of the ring into out (room for 200 bytes):
//  > 0  its size; it left the ring;
//  0    no whole message yet (including while an oversize one drains);
//  -6   a message over 200 bytes: what is buffered of it is thrown away and
//       the rest will be as it arrives; answered once per such message;
//  -10  an unknown class byte or a body length beyond ZVCP_MAX_SKIP: the
//       stream cannot be followed any further and the connection must end.
int zvcpRingNext(ZvcpRing* ring, uint8_t* out);

// ===========================================================================
// The client (library qm_netclient). Everything runs on the GUI thread, in
// the loop: name lookups go to a thread of their own, the socket is
// non-blocking and watched through platform's zvPlatformWatchFd, and every
// phase of the connection (lookup, connect, SOCKS, hello, answer) has one
// time limit. Nothing from the wire is evaluated as script text.

struct ZvWorld;
struct ZvObj;

// States as the design numbers them; the phases of state 1 are the client's.
enum {
  ZV_NET_DISCONNECTED = 0,
  ZV_NET_CONNECTING = 1,
  ZV_NET_CONNECTED = 2,
  ZV_NET_CLOSING = 3,
};

// What the user brings into a shared world. The chat window's settings
// (INI file, dialogs) fill it at start-up and whenever they change; the
// keys there are "User/NickName", "MultiUser/MultiUser", "MultiUser/SOCKS
// Host" and "MultiUser/SOCKS Port"; the avatar lives for the run.
struct ZvNetSettings {
  char userName[33];    // NickName; default "(nik)" until the login name is taken
  char avatarUrl[257];  // default "person.wrl": a bare name is in the data directory
  char socksHost[257];  // SOCKS Host; empty for none
  char socksPort[257];  // SOCKS Port; empty for none (then the connection is direct)
  int multiUser;        // MultiUser; default 1: 0 never connects
};
ZvNetSettings& zvNetSettings(void);

// What the client needs from the windows above it; a null entry does nothing.
struct ZvNetHooks {
  // A line for the chat log ("name: text", or what another user sent).
  void (*chatShow)(const char* line);
  // A text shown over another user's object for milliseconds (5000 when it
  // replaces one, 30000 when new): the label hook of the window.
  void (*showLabel)(ZvObj* object, const char* text, int milliseconds);
  // Another user's character steps a frame (media's zvKinReceiveStep).
  int (*kinStep)(ZvObj* object, int direction);
  // The connection changed state (the chat window greys itself).
  void (*stateChanged)(int state);
  // Headless clients and tests: one line for each thing the server made
  // happen ("add 12 http://… bob", "moved 12 1 2 3", "text 12 hi", …).
  void (*trace)(const char* line);
};
ZvNetHooks& zvNetHooks(void);

// The scene, navigation, character and script hooks: the object-moved call,
// the person's position reports and the zvcp… script commands.
void zvNetInstall(void);

// Connects to the server the world names in its Info "ZvServer" (nothing
// when it names none, when already connected, or with MultiUser off): 0 when
// the connection is under way, -1 when it cannot even start. The outcome is
// reported later ("Connected to a ZV Server." or a warning).
int zvNetConnect(ZvWorld* world);
// The same with the server given ("host:port").
int zvNetConnectTo(ZvWorld* world, const char* server);
// Leaves the server: the leave message, the socket closed, every object the
// server added removed and the avatar's identifier given up. 0 or -1.
int zvVSCPExit(void);
int zvNetState(void);
ZvWorld* zvNetWorld(void);        // the world connected, or null
int zvNetIsMaster(void);          // the master flag, 0 or 1
uint32_t zvNetClientId(void);     // the identifier headers carry
// Time limits in milliseconds: for the whole connection phase (15000), and
// for silence from a connected server (0: none; the server's own
// keep-alive is the TCP one). 0 keeps the current value for connect.
void zvNetSetTimeLimits(int connectMs, int silenceMs);

// Senders: the size sent, or -1 without a connection or for an object that
// is not shared (no identifier). Messages go whole or are queued whole.
int zvNetSendObjectMoved(ZvObj* object);                 // op 6 kind 2
int zvNetSendPosition(ZvObj* object);                    // class 2
int zvNetSendStep(ZvObj* object, int direction);         // class 1
int zvNetSendText(ZvObj* object, const char* text);      // op 6 kind 9
int zvNetSendEvent(ZvObj* object, uint32_t code, const char* text);  // kind 11
int zvNetSendAppl(ZvObj* object, int flag, const char* procedure, const char* argument);
// The chat window's line: shown in the log once as "name: text" and sent
// for the own avatar. The text is cut to what fits the message.
int zvNetChatSend(const char* text);
// Shows a text for an object: the chat log, and over it unless it is the
// own avatar (a repeat of the same text does not restart its label).
int zvNetShowText(ZvObj* object, const char* text);

// Procedures the server may call through the application-specific message
// are those the world's scripts defined whose names start with this prefix
// and hold only letters, digits and '_'. They are called as
//   procedure objectHandle eventHandle argument
// with each word a word of its own, never substituted.
#define ZV_NET_APPL_PREFIX "zvAppl"

// One received message through the upcalls, as the receive procedure does
// it (fuzzers and tests): 0, or a negative code after a warning.
int zvNetDispatch(const uint8_t* message, size_t size);
// Serves the loop until the state is settled (not connecting) or the time
// is up; for headless clients and tests. The state afterwards.
int zvNetWait(int milliseconds);
