// wwwpriv.h — what the files of www/ share and nobody else needs.
#pragma once

#include <cstddef>
#include <string>

#include "www/www.h"

namespace www {

// The cache directory with a trailing '/', created on demand; false after
// the report.
bool cacheDir(std::string& out);
// True when path names an existing file inside the cache directory (after
// symbolic links are followed): the only files this module ever deletes.
bool isInCache(const std::string& path);
// Deletes path if it is in the cache; the user's files are never touched.
void removeIfOurs(const std::string& path);
// Files extracted from archives stay as long as the cache: several entries
// may name them.
bool isArchiveMember(const std::string& path);

// Where the products of source go and the name they start from: the
// directory with its '/', a hash of the full source path, and the source's
// base name. False after "<who>: zvGetModuleDirName failed" or
// "<who>: invalid filename".
bool productParts(int local, const char* source, const char* who, std::string& dir,
                  std::string& hash, std::string& base);
// The same parts for a copy of source converted to type: the base name is
// cut at its first dot (after the first character) and gets the type's
// suffix. Reports as zvMakeFilenameFromMime.
bool convertedParts(int local, const char* source, int type, std::string& dir, std::string& hash,
                    std::string& base);
// Creates a new empty file at dir + hash + '-' + base, or, if that exists, at
// a numbered variant; answers the open descriptor (or -1) and its name.
int reserveProduct(const std::string& dir, const std::string& hash, const std::string& base,
                   std::string& chosen);

bool copyOut(const std::string& name, char* out, size_t size);  // false if it does not fit
size_t sizeLimit();

// Fetch of an absolute or relative URL to a usable local file, without an
// entry; the remote fetcher is used for anything that is not local.
bool fetchUrl(const char* url, std::string& local, int& type, bool& produced);

// The browser's side (agent.cpp): one request, its reply; 1 when served.
int agentServe(const char* topic, const char* item, int type, std::string& reply);
int agentStart();
void agentStop();

}  // namespace www
