// wire.cpp — the ZVCP message layouts: builders and parsers, the
// fixed-point rule and the handshake and SOCKS exchanges. Nothing here knows
// of a socket or a scene; the server links this file as it is.
#include <cmath>
#include <cstring>

#include "net/net.h"

namespace {

constexpr int kUpdateHead = 9;  // identifier, kind, flag

int textSize(const char* text) {  // with its zero; null counts as empty
  return text ? int(std::strlen(text)) + 1 : 1;
}

void putText(uint8_t* at, const char* text, int size) {
  if (text) std::memcpy(at, text, size_t(size - 1));
  at[size - 1] = 0;
}

// The common first nine bytes of every class.
void putLead(uint8_t* out, uint8_t messageClass, uint32_t channel, uint32_t sender) {
  out[0] = messageClass;
  zvcpPutU32(out + 1, channel);
  zvcpPutU32(out + 5, sender);
}

// A class 0 message of body bytes: the header written, the body's start
// answered, or null when it would not fit (the size goes to *size anyway).
uint8_t* startMessage(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender,
                      uint32_t op, int body, int* size) {
  *size = ZVCP_HEADER_SIZE + body;
  if (body < 0 || *size > ZVCP_MAX_MESSAGE) {
    *size = ZVCP_E_TOO_LONG;
    return nullptr;
  }
  if (!out) return nullptr;
  if (cap < size_t(*size)) {
    *size = ZVCP_E_NOFIT;
    return nullptr;
  }
  putLead(out, 0, channel, sender);
  zvcpPutU32(out + 9, op);
  zvcpPutU32(out + 13, uint32_t(body));
  return out + ZVCP_HEADER_SIZE;
}

int buildWord(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t op,
              uint32_t word) {
  int size;
  uint8_t* body = startMessage(out, cap, channel, sender, op, 4, &size);
  if (body) zvcpPutU32(body, word);
  return size;
}

int buildByte(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t op,
              uint8_t value) {
  int size;
  uint8_t* body = startMessage(out, cap, channel, sender, op, 1, &size);
  if (body) body[0] = value;
  return size;
}

// Reals converted before anything is written, so that a refused value
// leaves no half-built message behind.
int convertReals(const float* values, int count, int32_t* out) {
  for (int i = 0; i < count; ++i)
    if (zvcpRealToWire(values[i], &out[i]) != ZVCP_OK) return ZVCP_E_RANGE;
  return ZVCP_OK;
}

int buildReals(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
               uint32_t kind, const float* values, int count) {
  int32_t wire[12];
  if (!values || convertReals(values, count, wire) != ZVCP_OK) return ZVCP_E_RANGE;
  int size;
  uint8_t* body =
      startMessage(out, cap, channel, sender, ZVCP_OP_UPDATE, kUpdateHead + 4 * count, &size);
  if (!body) return size;
  zvcpPutU32(body, id);
  zvcpPutU32(body + 4, kind);
  body[8] = 1;
  for (int i = 0; i < count; ++i) zvcpPutU32(body + kUpdateHead + 4 * i, uint32_t(wire[i]));
  return size;
}

// A zero-terminated text at body[*at], within length bytes: its start, or
// null when the zero is missing. *at moves past it.
const char* takeText(const uint8_t* body, uint32_t length, uint32_t* at) {
  if (*at >= length) return nullptr;
  const void* zero = std::memchr(body + *at, 0, length - *at);
  if (!zero) return nullptr;
  const char* text = reinterpret_cast<const char*>(body + *at);
  *at = uint32_t(static_cast<const uint8_t*>(zero) - body) + 1;
  return text;
}

int takeReals(const uint8_t* at, int count, ZvcpMessage* out) {
  for (int i = 0; i < count; ++i)
    out->reals[i] = float(zvcpWireToReal(int32_t(zvcpGetU32(at + 4 * i))));
  out->realCount = count;
  return ZVCP_OK;
}

int parseUpdate(const uint8_t* body, uint32_t length, ZvcpMessage* out) {
  if (length < uint32_t(kUpdateHead)) return ZVCP_E_BODY;
  out->id = zvcpGetU32(body);
  out->kind = zvcpGetU32(body + 4);
  out->flag = body[8];
  const uint8_t* payload = body + kUpdateHead;
  uint32_t rest = length - kUpdateHead;
  uint32_t at = kUpdateHead;
  switch (out->kind) {
    case ZVCP_KIND_TRANSLATION:
      if (rest != 12) return ZVCP_E_BODY;
      return takeReals(payload, 3, out);
    case ZVCP_KIND_ROTATION:
    case ZVCP_KIND_ROTTRANS: {
      int count = out->kind == ZVCP_KIND_ROTATION ? 9 : 12;
      if (rest != uint32_t(4 * count)) return ZVCP_E_BODY;
      takeReals(payload, count, out);
      // A rotation's elements lie within ±1; anything else would scale or
      // shear another user's object out of all proportion.
      for (int i = 0; i < 9; ++i)
        if (!(std::fabs(out->reals[i]) <= 1.0f)) return ZVCP_E_RANGE;
      return ZVCP_OK;
    }
    case ZVCP_KIND_TEXT:
      out->text = takeText(body, length, &at);
      if (!out->text) return rest ? ZVCP_E_STRING : ZVCP_E_BODY;
      return ZVCP_OK;
    case ZVCP_KIND_EVENT:
      if (rest < 4) return ZVCP_E_BODY;
      out->code = zvcpGetU32(payload);
      at += 4;
      out->text = takeText(body, length, &at);
      if (!out->text) return rest > 4 ? ZVCP_E_STRING : ZVCP_E_BODY;
      return ZVCP_OK;
    case ZVCP_KIND_APPL:
      out->text = takeText(body, length, &at);
      if (!out->text) return rest ? ZVCP_E_STRING : ZVCP_E_BODY;
      out->text2 = takeText(body, length, &at);
      if (!out->text2) return at < length ? ZVCP_E_STRING : ZVCP_E_BODY;
      return ZVCP_OK;
    default:
      return ZVCP_E_UNKNOWN;
  }
}

int parseBody(const uint8_t* body, uint32_t length, ZvcpMessage* out) {
  uint32_t at = 0;
  switch (out->op) {
    case ZVCP_OP_JOIN:
      out->text = takeText(body, length, &at);
      if (!out->text) return length ? ZVCP_E_STRING : ZVCP_E_BODY;
      out->text2 = takeText(body, length, &at);
      if (!out->text2) return at < length ? ZVCP_E_STRING : ZVCP_E_BODY;
      return ZVCP_OK;
    case ZVCP_OP_YOUR_ID:
    case ZVCP_OP_SWITCH:
    case ZVCP_OP_MYSELF:
      if (length != 4) return ZVCP_E_BODY;
      out->id = zvcpGetU32(body);
      return ZVCP_OK;
    case ZVCP_OP_ADD_OBJECTS:
      if (length < 9) return length < 8 ? ZVCP_E_BODY : ZVCP_E_STRING;
      out->id = zvcpGetU32(body);
      out->word = zvcpGetU32(body + 4);
      at = 8;
      out->text = takeText(body, length, &at);
      if (!out->text) return ZVCP_E_STRING;
      if (at < length) {  // the name is optional
        out->text2 = takeText(body, length, &at);
        if (!out->text2) return ZVCP_E_STRING;
      }
      return ZVCP_OK;
    case ZVCP_OP_TEXT5:
      if (length < 9) return length < 8 ? ZVCP_E_BODY : ZVCP_E_STRING;
      out->word = zvcpGetU32(body);
      out->code = zvcpGetU32(body + 4);
      at = 8;
      out->text = takeText(body, length, &at);
      return out->text ? ZVCP_OK : ZVCP_E_STRING;
    case ZVCP_OP_UPDATE:
      return parseUpdate(body, length, out);
    case ZVCP_OP_LEAVE:
    case ZVCP_OP_MASTER:
      if (length != 1) return ZVCP_E_BODY;
      out->value = body[0];
      return ZVCP_OK;
    default:
      return ZVCP_E_UNKNOWN;
  }
}

}  // namespace

int zvcpRealToWire(double value, int32_t* out) {
  double scaled = std::trunc(value * 65535.0);
  // Finite and within the integer's range; NaN fails both comparisons.
  if (!(scaled >= -2147483648.0 && scaled <= 2147483647.0)) return ZVCP_E_RANGE;
  if (out) *out = int32_t(scaled);
  return ZVCP_OK;
}

double zvcpWireToReal(int32_t value) { return value / 65536.0; }

void zvcpPutU16(uint8_t* at, uint16_t value) {
  at[0] = uint8_t(value >> 8);
  at[1] = uint8_t(value);
}

void zvcpPutU32(uint8_t* at, uint32_t value) {
  at[0] = uint8_t(value >> 24);
  at[1] = uint8_t(value >> 16);
  at[2] = uint8_t(value >> 8);
  at[3] = uint8_t(value);
}

uint16_t zvcpGetU16(const uint8_t* at) { return uint16_t(at[0] << 8 | at[1]); }

uint32_t zvcpGetU32(const uint8_t* at) {
  return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}

// ---------------------------------------------------------------------------
// Handshake

int zvcpBuildHello(uint8_t* out, size_t cap) {
  if (!out) return ZVCP_HELLO_SIZE;
  if (cap < ZVCP_HELLO_SIZE) return ZVCP_E_NOFIT;
  std::memcpy(out, "hello", 5);
  out[5] = 1;
  out[6] = 1;
  return ZVCP_HELLO_SIZE;
}

int zvcpParseHello(const uint8_t* bytes, size_t count) {
  if (!bytes || count != ZVCP_HELLO_SIZE || std::memcmp(bytes, "hello", 5) != 0)
    return ZVCP_E_FAIL;
  return ZVCP_OK;
}

int zvcpBuildAnswer(uint8_t* out, size_t cap, uint32_t firstValue, uint32_t channel) {
  if (!out) return ZVCP_ANSWER_SIZE;
  if (cap < ZVCP_ANSWER_SIZE) return ZVCP_E_NOFIT;
  std::memcpy(out, "hello", 6);  // with its zero
  zvcpPutU32(out + 6, firstValue);
  zvcpPutU32(out + 10, channel);
  return ZVCP_ANSWER_SIZE;
}

int zvcpBuildReject(uint8_t* out, size_t cap) {
  if (!out) return ZVCP_REJECT_SIZE;
  if (cap < ZVCP_REJECT_SIZE) return ZVCP_E_NOFIT;
  std::memcpy(out, "reject", 6);
  out[6] = 0;
  return ZVCP_REJECT_SIZE;
}

int zvcpParseAnswer(const uint8_t* bytes, size_t count, uint32_t* firstValue,
                    uint32_t* channel) {
  if (!bytes) return ZVCP_E_FAIL;
  if (count >= ZVCP_ANSWER_SIZE && std::memcmp(bytes, "hello", 5) == 0) {
    if (firstValue) *firstValue = zvcpGetU32(bytes + 6);
    if (channel) *channel = zvcpGetU32(bytes + 10);
    return ZVCP_OK;
  }
  if (count >= 6 && std::memcmp(bytes, "reject", 6) == 0) return 1;
  return ZVCP_E_FAIL;
}

int zvcpBuildSocks4(uint8_t* out, size_t cap, uint16_t port, uint32_t address,
                    const char* user) {
  int name = textSize(user);
  if (name > 256) return ZVCP_E_TOO_LONG;
  int size = 8 + name;
  if (!out) return size;
  if (cap < size_t(size)) return ZVCP_E_NOFIT;
  out[0] = 4;
  out[1] = 1;
  zvcpPutU16(out + 2, port);
  zvcpPutU32(out + 4, address);
  putText(out + 8, user, name);
  return size;
}

int zvcpParseSocks4Reply(const uint8_t* bytes, size_t count) {
  if (!bytes || count < ZVCP_SOCKS_REPLY_SIZE || bytes[1] != 90) return ZVCP_E_FAIL;
  return ZVCP_OK;
}

// ---------------------------------------------------------------------------
// Class 0

int zvcpBuildJoin(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender,
                  const char* userName, const char* avatarUrl) {
  int user = textSize(userName), avatar = textSize(avatarUrl), size;
  uint8_t* body = startMessage(out, cap, channel, sender, ZVCP_OP_JOIN, user + avatar, &size);
  if (body) {
    putText(body, userName, user);
    putText(body + user, avatarUrl, avatar);
  }
  return size;
}

int zvcpBuildYourId(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id) {
  return buildWord(out, cap, channel, sender, ZVCP_OP_YOUR_ID, id);
}

int zvcpBuildAddObjects(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender,
                        uint32_t id, uint32_t word, const char* url, const char* name) {
  int urlSize = textSize(url), nameSize = name ? textSize(name) : 0, size;
  uint8_t* body =
      startMessage(out, cap, channel, sender, ZVCP_OP_ADD_OBJECTS, 8 + urlSize + nameSize, &size);
  if (body) {
    zvcpPutU32(body, id);
    zvcpPutU32(body + 4, word);
    putText(body + 8, url, urlSize);
    if (name) putText(body + 8 + urlSize, name, nameSize);
  }
  return size;
}

int zvcpBuildSwitch(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id) {
  return buildWord(out, cap, channel, sender, ZVCP_OP_SWITCH, id);
}

int zvcpBuildMyself(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id) {
  return buildWord(out, cap, channel, sender, ZVCP_OP_MYSELF, id);
}

int zvcpBuildLeave(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint8_t reason) {
  return buildByte(out, cap, channel, sender, ZVCP_OP_LEAVE, reason);
}

int zvcpBuildMaster(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint8_t value) {
  return buildByte(out, cap, channel, sender, ZVCP_OP_MASTER, value);
}

int zvcpBuildRotTrans(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                      const float rotation[9], const float translation[3]) {
  if (!rotation || !translation) return ZVCP_E_FAIL;
  float values[12];
  std::memcpy(values, rotation, 9 * sizeof(float));
  std::memcpy(values + 9, translation, 3 * sizeof(float));
  return buildReals(out, cap, channel, sender, id, ZVCP_KIND_ROTTRANS, values, 12);
}

int zvcpBuildTranslation(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender,
                         uint32_t id, const float translation[3]) {
  return buildReals(out, cap, channel, sender, id, ZVCP_KIND_TRANSLATION, translation, 3);
}

int zvcpBuildRotation(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender,
                      uint32_t id, const float rotation[9]) {
  return buildReals(out, cap, channel, sender, id, ZVCP_KIND_ROTATION, rotation, 9);
}

int zvcpBuildText(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                  const char* text) {
  int textBytes = textSize(text), size;
  uint8_t* body =
      startMessage(out, cap, channel, sender, ZVCP_OP_UPDATE, kUpdateHead + textBytes, &size);
  if (body) {
    zvcpPutU32(body, id);
    zvcpPutU32(body + 4, ZVCP_KIND_TEXT);
    body[8] = 0;
    putText(body + kUpdateHead, text, textBytes);
  }
  return size;
}

int zvcpBuildEvent(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                   uint32_t code, const char* text) {
  int textBytes = textSize(text), size;
  uint8_t* body = startMessage(out, cap, channel, sender, ZVCP_OP_UPDATE,
                               kUpdateHead + 4 + textBytes, &size);
  if (body) {
    zvcpPutU32(body, id);
    zvcpPutU32(body + 4, ZVCP_KIND_EVENT);
    body[8] = 0;
    zvcpPutU32(body + kUpdateHead, code);
    putText(body + kUpdateHead + 4, text, textBytes);
  }
  return size;
}

int zvcpBuildAppl(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                  int master, const char* procedure, const char* argument) {
  int first = textSize(procedure), second = textSize(argument), size;
  uint8_t* body = startMessage(out, cap, channel, sender, ZVCP_OP_UPDATE,
                               kUpdateHead + first + second, &size);
  if (body) {
    zvcpPutU32(body, id);
    zvcpPutU32(body + 4, ZVCP_KIND_APPL);
    body[8] = master ? ZVCP_FLAG_APPL_MASTER : ZVCP_FLAG_APPL;
    putText(body + kUpdateHead, procedure, first);
    putText(body + kUpdateHead + first, argument, second);
  }
  return size;
}

int zvcpBuildText5(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t a,
                   uint32_t b, const char* text) {
  int textBytes = textSize(text), size;
  uint8_t* body = startMessage(out, cap, channel, sender, ZVCP_OP_TEXT5, 8 + textBytes, &size);
  if (body) {
    zvcpPutU32(body, a);
    zvcpPutU32(body + 4, b);
    putText(body + 8, text, textBytes);
  }
  return size;
}

// ---------------------------------------------------------------------------
// Classes 1 and 2

int zvcpBuildStep(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                  uint8_t direction) {
  if (!out) return ZVCP_STEP_SIZE;
  if (cap < ZVCP_STEP_SIZE) return ZVCP_E_NOFIT;
  putLead(out, 1, channel, sender);
  zvcpPutU32(out + 9, id);
  out[13] = direction;
  return ZVCP_STEP_SIZE;
}

int zvcpBuildPosition(uint8_t* out, size_t cap, uint32_t channel, uint32_t sender, uint32_t id,
                      const float translation[3]) {
  int32_t wire[3];
  if (!translation || convertReals(translation, 3, wire) != ZVCP_OK) return ZVCP_E_RANGE;
  if (!out) return ZVCP_POSITION_SIZE;
  if (cap < ZVCP_POSITION_SIZE) return ZVCP_E_NOFIT;
  putLead(out, 2, channel, sender);
  zvcpPutU32(out + 9, id);
  for (int i = 0; i < 3; ++i) zvcpPutU32(out + 13 + 4 * i, uint32_t(wire[i]));
  zvcpPutU16(out + 25, 1);
  return ZVCP_POSITION_SIZE;
}

// ---------------------------------------------------------------------------
// Parsing

int64_t zvcpMessageSize(const uint8_t* bytes, size_t count) {
  if (!bytes || count < 1) return ZVCP_E_INCOMPLETE;
  switch (bytes[0]) {
    case 0:
      if (count < ZVCP_HEADER_SIZE) return ZVCP_E_INCOMPLETE;
      return int64_t(ZVCP_HEADER_SIZE) + zvcpGetU32(bytes + 13);
    case 1:
      return ZVCP_STEP_SIZE;
    case 2:
      return ZVCP_POSITION_SIZE;
    default:
      return ZVCP_E_UNKNOWN;
  }
}

int zvcpParse(const uint8_t* bytes, size_t size, ZvcpMessage* out) {
  if (!bytes || !out) return ZVCP_E_FAIL;
  *out = ZvcpMessage{};
  int64_t whole = zvcpMessageSize(bytes, size);
  if (whole < 0) return int(whole);
  if (uint64_t(whole) != size) return size < uint64_t(whole) ? ZVCP_E_INCOMPLETE : ZVCP_E_BODY;
  if (size > ZVCP_MAX_MESSAGE) return ZVCP_E_TOO_LONG;
  out->messageClass = bytes[0];
  out->channel = zvcpGetU32(bytes + 1);
  out->sender = zvcpGetU32(bytes + 5);
  switch (out->messageClass) {
    case 1:
      out->id = zvcpGetU32(bytes + 9);
      out->value = bytes[13];
      return ZVCP_OK;
    case 2:
      out->id = zvcpGetU32(bytes + 9);
      return takeReals(bytes + 13, 3, out);
    default:
      out->op = zvcpGetU32(bytes + 9);
      out->length = zvcpGetU32(bytes + 13);
      return parseBody(bytes + ZVCP_HEADER_SIZE, out->length, out);
  }
}
