// www.h — retrieval: type codes and MIME names, URL resolution against the
// current document, the per-world URL cache that maps each URL to a local
// file, and the preparation of files that have just become local (gunzip,
// image conversion, LHA archives).
//
// Depends on the scene model (allocator, reports, worlds, extensions), zlib
// and liblhasa. Everything a world's files turn into lives under
// $XDG_CACHE_HOME/quillmoor/ (or ~/.cache/quillmoor/), made on demand; the
// user's own files are read, never written or deleted.
//
// Three seams are left for the layers that come later, each null until set:
// the remote fetcher (http and other schemes), the image converter (GIF,
// JPEG and PNG to BMP) and the script runner for Tcl files found in
// archives. With a seam unset the operation that needs it fails cleanly.
//
// Conventions as in the scene model: 0 success, -1 failure, -5 out of
// memory; pointer results are null on failure; null arguments are answered.
// Results documented as "static" live in a buffer the next call reuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scene/scene.h"

// ---------------------------------------------------------------------------
// Type codes: one small number per kind of file, shared by every part that
// loads media.
enum ZvWwwType {
  ZV_TYPE_BMP = 0,
  ZV_TYPE_RAS = 1,
  ZV_TYPE_AVI = 2,
  ZV_TYPE_WAV = 3,
  ZV_TYPE_VRML = 4,
  ZV_TYPE_TCL = 5,
  ZV_TYPE_KINEMATION = 6,
  ZV_TYPE_JPEG = 7,
  ZV_TYPE_GIF = 8,
  ZV_TYPE_GZIP = 9,
  ZV_TYPE_LHA = 10,
  ZV_TYPE_OTHER = 11,
  // Ours: PNG textures came after the first eleven codes were fixed, so PNG
  // takes the next free number rather than moving "other".
  ZV_TYPE_PNG = 12,
};

// Scheme codes of zvUrlScheme.
enum ZvUrlSchemeCode {
  ZV_SCHEME_FILE = 0,
  ZV_SCHEME_HTTP = 1,
  ZV_SCHEME_OTHER = 2,
  ZV_SCHEME_NONE = 3,  // a relative URL or a plain path
};

enum {
  ZV_URL_BUCKETS = 203,     // buckets of a world's URL table
  ZV_WWW_PATH_MAX = 4096,   // size of the name buffers handed to this module
};

int zvSuffixToType(const char* name);          // by the last suffix, 11 if none
// A file's type by its first bytes (gzip, GIF, JPEG, PNG, BMP), which win
// over its name; by its suffix when they match none of those.
int zvFileToType(const char* path);
int zvInnerSuffixToType(const char* name);     // by the suffix before it (x.wrl.gz: 4)
const char* zvTypeToMimeName(const char* name);  // null for code 11
int zvMimeNameToType(const char* mime);        // exact names, 11 for any other
const char* zvTypeToSuffix(int type);          // ".wrl" and kin; "" when the code has none
int zvUrlScheme(const char* url);              // ZV_SCHEME_*, -1 for null

// ---------------------------------------------------------------------------
// URLs
void zvWwwSetBaseUrl(const char* url);  // the document shown; null clears it
const char* zvWwwGetBaseUrl(void);      // "" when none
// The absolute form of url against base (static), or null after the warning
// "zvDdeParseAnchor: ..." when the relative part climbs above the root.
const char* zvDdeParseAnchor(const char* base, const char* url);
// The same into the caller's buffer: 0, or -1 (failed, or out too small).
int zvResolveUrl(const char* base, const char* url, char* out, size_t size);
// file:///abs/path -> /abs/path with %XX decoded (static); null if not a
// file URL. The reverse escapes what a URL cannot carry (static).
const char* zvFileUrlToPath(const char* url);
const char* zvPathToFileUrl(const char* path);

// ---------------------------------------------------------------------------
// The URL cache: one per world (ZvWorld::urlTable), 203 buckets.
struct ZvUrlHash {
  char* url;             // exactly as first asked for, owned
  char* local_filename;  // the file holding it, null until fetched, owned
  int32_t type;          // 11 until fetched, then the type of local_filename
  ZvUrlHash* next;       // bucket chain
};
struct ZvUrlHashTable {
  uint32_t buckets;
  ZvUrlHash** heads;
};

uint32_t zvUrlHashBucket(const char* url, uint32_t buckets);  // case matters
int zvNewUrlHash(uint32_t buckets, ZvUrlHashTable** out);      // 0 or -5
void zvDeleteUrlHash(ZvUrlHashTable* table);  // entries, their owned files, the table
ZvUrlHash* zvFindUrlHashEntry(ZvUrlHashTable* table, const char* url);  // case ignored
// The existing entry (unchanged) or a new one at the front of its bucket.
ZvUrlHash* zvNewUrlHashEntry(ZvUrlHashTable* table, const char* url, const char* local, int type);
void zvDeleteUrlHashEntry(ZvUrlHashTable* table, const char* url);  // exact match
ZvUrlHash* zvWwwLoadFile(const char* url);  // registers url in the current world
const char* zvGetUrl(const ZvUrlHash* entry);
const char* zvGetLocalFile(ZvUrlHash* entry);  // fetches when there is no local file yet
int zvGetMimeType(ZvUrlHash* entry);           // likewise; 11 on any failure
// Fills zvSceneHooks() so that every new world gets its URL table and frees
// it with the world.
void zvWwwInstallHooks(void);

// URLs carried by objects through the extension kinds zvWWWInline and
// zvWWWAnchor. The entry lives in the object's world (else the current one).
int zvGetUrlNameOfWWW(ZvObj* object, int kind, const char** url);
int zvGetLocalNameOfWWW(ZvObj* object, int kind, const char** file);
int zvSetNameOfWWW(ZvObj* object, int kind, const char* url);

// ---------------------------------------------------------------------------
// Local files. `local` is the scheme code of the URL the source came from:
// 1 means a download of ours (products go beside it, the source is deleted
// once used); any other value means someone else's file (products go into
// the cache directory, the source is kept).
//
// The cache directory with a trailing '/', made if missing: 0, or -1 after
// "can not get temp directory" / "can not make temp directory".
int zvWwwGetCacheDir(char* out, size_t size);
// The name a converted copy of source with the given type would get:
// directory, a hash of the full source path, '-', the source's base name up
// to its first dot, the type's suffix. Null on failure.
char* zvMakeFilenameFromMime(int local, const char* source, char* out, size_t size, int type);
// Makes source usable: gzip (by suffix .gz/.wrz or by its 1f 8b signature)
// is inflated, GIF/JPEG/PNG converted to BMP; anything else is used as it
// is. type names what an inflated file is when its name does not say (x.gz
// with type 4 gives x.wrl). 0 with the usable file's name in out, or -1.
int zvPreProcessFile(int local, const char* source, char* out, size_t size, int type);
// Largest file an inflate or an archive may produce (512 MB at start);
// answers the previous limit.
size_t zvWwwSetSizeLimit(size_t bytes);
// Unpacks the LHA archive at url into a fresh directory under the cache and
// enters each member into the current world's table under its archive name.
// 0, or -1 (bad archive, unsafe member names, out of memory).
int zvExtractLha(const char* url);
// Resolves the entry's URL against the base URL and makes it local: a plain
// path or file: URL is the file itself (which must exist), anything else
// goes to the fetcher. Sets the entry's type; answers the preprocessed name
// (static) or null. Does not touch local_filename.
const char* zvWwwFetch(ZvUrlHash* entry);

// ---------------------------------------------------------------------------
// Seams for later work; each setter answers the previous function.
// Remote retrieval: downloads url (absolute, not a file URL) into a file of
// the cache directory whose name goes into out; 0 or -1.
typedef int (*ZvWwwFetcher)(const char* url, int type, char* out, size_t size);
ZvWwwFetcher zvWwwSetFetcher(ZvWwwFetcher fetcher);
// Image conversion: writes the BMP dstBmp from src of type 7, 8 or 12; 0 or -1.
typedef int (*ZvWwwImageConverter)(const char* src, const char* dstBmp, int type);
ZvWwwImageConverter zvWwwSetImageConverter(ZvWwwImageConverter converter);
// Evaluates a Tcl file that came out of an archive in the world's interpreter.
typedef int (*ZvWwwScriptRunner)(ZvWorld* world, const char* file);
ZvWwwScriptRunner zvWwwSetScriptRunner(ZvWwwScriptRunner runner);

// ---------------------------------------------------------------------------
// The link to the web browser's side, which our own fetch agent plays
// (libcurl, driven from the event loop of the platform layer): viewer
// registration per MIME type, opening URLs, progress, documents handed to
// their viewer or an alert, the URL of a file, cancel. Transaction types:
enum { ZV_DDE_REQUEST = 0x20B0, ZV_DDE_POKE = 0x4090 };
// The alert kinds the agent gives in the second field of "WWW_Alert".
enum { ZV_ALERT_FAILED = 1, ZV_ALERT_NOT_VIEWED = 2 };
// What the shell hears; each may stay null.
struct ZvWwwLinkHooks {
  void (*startFetch)(void);                               // a world is on its way
  void (*document)(const char* local, const char* url);   // open the delivered world
  // The document open ended without a world: reason, or null when the
  // document went to the user's web browser.
  void (*loadError)(const char* reason);
  void (*progress)(long done, long total);  // bytes; total -1 when unknown
  // Every transaction as it passes: side "client" (ours to the browser),
  // "server" (the browser's to us) or "browser" (the user's own browser).
  void (*transaction)(const char* side, const char* topic, const char* item);
};
ZvWwwLinkHooks& zvWwwLinkHooks(void);
// Starts the agent and registers as the viewer for VRML; sets the fetcher
// seam. 0, or -1 when the agent cannot start.
int zvWwwStartLink(void);
void zvWwwShutdownLink(void);
int zvWwwLinkBusy(void);      // a request or a fetch wait is under way
int zvWwwFetchWaiting(void);  // a fetch waits in its nested loop
uint32_t zvWwwProgressCounter(void);
// The fetcher seam: opens url with the browser's side and waits in a nested
// loop for the document; the file lands in the cache directory.
int zvWwwLinkFetch(const char* url, int type, char* out, size_t size);
// Opens a URL as the current document, resolved against the base URL: a
// local VRML file is delivered at once, a remote one when it arrives,
// anything else goes to the user's web browser. 0 or -1.
int zvOpenUrl(const char* url);
// Stop: cancels the current transfer; fetches fail until the next open
// or zvWwwClearStop.
int zvWwwCancelProgress(void);
void zvWwwClearStop(void);
const char* zvWwwFilenameToUrl(const char* file);  // static
// Hands url to the user's web browser (xdg-open, or $QUILLMOOR_OPEN_COMMAND).
int zvWwwShowInBrowser(const char* url);
// Field n of a transaction's item (the comma-separated arguments) into out;
// null after "getNthMessage : message buffer is invalid".
const char* zvDdeGetField(const char* item, int n, char* out, size_t size);
// The browser side's calls to ours; the reply's bytes go into reply.
int zvDdeServe(const char* topic, const char* item, std::string* reply);
// Limits of the agent: connect and stall time-outs in seconds, the largest
// document in bytes. Zero keeps a value.
void zvWwwSetFetchLimits(int connectSeconds, int stallSeconds, size_t maxBytes);
int zvWwwViewerRegistered(const char* mime);  // 1 while the agent holds it
// Starts fetching what a world just delivered will ask for next (its
// inlines and textures), so that their waits find them under way.
void zvWwwPrefetchFrom(const char* file, const char* url);
