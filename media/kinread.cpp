// kinread.cpp — the character file: the body (segments, sites, joints), the
// capture (which number of a motion line drives which joint) and the motion
// lines, then the placement of every segment from the root outward.
//
// The file comes from the web. Every count, channel and name is checked
// before it is used, a token longer than 99 characters ends the read, and
// the frame count, which is only the number of lines left, is held against
// the bytes that are left before anything is allocated for it.
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <string_view>

#include "media/kinpriv.h"

namespace {

// The body's own failures; the caller adds the loader's line.
const char* const kCorrupted[] = {
    "Kinemation bod file seems corrupted. 0",
    "Kinemation bod file seems corrupted. 1",
    "Kinemation bod file seems corrupted. 2",
};
const char* const kBadSegment = "Kinemation bod file has incorrect segment declaration.";
const char* const kBadRoot = "Kinemation bod file has incorrect root declaration.";
const char* const kBadJoint = "Kinemation bod file has incorrect joint declaration.";
const char* const kBadHandles = "Kinemation bod file has incorrect handles.";
const char* const kBadTree = "Kinemation bod file has incorrect tree structure.";

class Tokens {
 public:
  Tokens(const char* data, size_t size) : p_(data), end_(data + size) {}

  // The next token, or false at the end of the data or on a token too long
  // to be one.
  bool next(std::string_view& token) {
    while (p_ < end_ && isSeparator(*p_)) ++p_;
    if (p_ == end_) return false;
    const char* start = p_;
    while (p_ < end_ && !isSeparator(*p_)) ++p_;
    if (p_ - start > ZV_KIN_TOKEN_MAX) return false;
    token = std::string_view(start, size_t(p_ - start));
    return true;
  }
  // The next token without taking it.
  bool peek(std::string_view& token) {
    const char* at = p_;
    bool ok = next(token);
    p_ = at;
    return ok;
  }
  bool expect(const char* word) {
    std::string_view t;
    return next(t) && t == word;
  }
  // Takes tokens up to and including word.
  bool skipPast(const char* word) {
    std::string_view t;
    while (next(t))
      if (t == word) return true;
    return false;
  }
  bool real(double& value) {
    std::string_view t;
    if (!next(t)) return false;
    // from_chars takes no leading '+', which the files' writers used.
    if (t.size() > 1 && t[0] == '+' && t[1] != '-') t.remove_prefix(1);
    auto r = std::from_chars(t.data(), t.data() + t.size(), value);
    return r.ec == std::errc() && r.ptr == t.data() + t.size() && std::isfinite(value);
  }
  bool integer(long& value) {
    std::string_view t;
    if (!next(t)) return false;
    if (t.size() > 1 && t[0] == '+' && t[1] != '-') t.remove_prefix(1);
    auto r = std::from_chars(t.data(), t.data() + t.size(), value);
    return r.ec == std::errc() && r.ptr == t.data() + t.size();
  }
  bool name(std::string& out) {
    std::string_view t;
    if (!next(t)) return false;
    out.assign(t);
    return true;
  }
  void skipLine() {
    const void* lf = std::memchr(p_, '\n', size_t(end_ - p_));
    p_ = lf ? static_cast<const char*>(lf) + 1 : end_;
  }
  size_t lineFeeds() const {
    size_t n = 0;
    for (const char* q = p_; (q = static_cast<const char*>(std::memchr(q, '\n', size_t(end_ - q)))); ++q) ++n;
    return n;
  }
  size_t left() const { return size_t(end_ - p_); }

  // Motion numbers are most of a large file: read in place, without the
  // token copy.
  bool number(float& out) {
    while (p_ < end_ && isSeparator(*p_)) ++p_;
    const char* start = p_;
    while (p_ < end_ && !isSeparator(*p_)) ++p_;
    if (p_ == start || p_ - start > ZV_KIN_TOKEN_MAX) return false;
    if (p_ - start > 1 && *start == '+' && start[1] != '-') ++start;
    double value;
    auto r = std::from_chars(start, p_, value);
    if (r.ec != std::errc() || r.ptr != p_ || !std::isfinite(value)) return false;
    out = float(value);
    return true;
  }

 private:
  static bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\n'; }
  const char* p_;
  const char* end_;
};

bool readXfm(Tokens& in, float rotation[9], float translation[3]) {
  double v[6];
  for (double& x : v)
    if (!in.real(x)) return false;
  for (int i = 0; i < 3; ++i) translation[i] = float(v[i]);
  zvKinXfmRotation(v[3], v[4], v[5], rotation);
  return true;
}

bool parseSite(Tokens& in, ZvKinBody* body, int segment) {
  ZvKinSite site{};
  std::string name;
  if (!in.expect("name") || !in.name(name) || !in.expect("xfm") || !readXfm(in, site.rotation, site.translation))
    return false;
  std::string_view t;
  if (!in.next(t)) return false;
  if (t == "#") {
    for (int i = 0; i < 7; ++i)
      if (!in.next(t)) return false;
    if (!in.next(t)) return false;
  }
  if (t != "endsite") return false;
  site.name = body->segments[size_t(segment)].name + "." + name;
  site.partner = -1;
  site.segment = segment;
  int index = int(body->sites.size());
  if (!body->siteByName.emplace(site.name, index).second) return false;
  body->sites.push_back(std::move(site));
  body->segments[size_t(segment)].sites.push_back(index);
  return true;
}

bool parseSegment(Tokens& in, ZvKinBody* body) {
  if (body->segments.size() >= ZV_KIN_SEGMENTS_MAX) return false;
  ZvKinSegment segment{};
  double scale;
  if (!in.expect("name") || !in.name(segment.name) || !in.expect("scale")) return false;
  for (int i = 0; i < 3; ++i)
    if (!in.real(scale)) return false;
  int index = int(body->segments.size());
  if (!body->segmentByName.emplace(segment.name, index).second) return false;
  segment.attach = segment.parent = segment.channel = -1;
  body->segments.push_back(std::move(segment));
  std::string_view t;
  for (;;) {
    if (!in.next(t)) return false;
    if (t == "endsegment") return true;
    if (t != "bgnsite" || !parseSite(in, body, index)) return false;
  }
}

// Connects two sites; false for a declaration that names what is not there
// or would give a segment a second parent.
bool connect(ZvKinBody* body, const std::string& first, const std::string& second) {
  auto a = body->siteByName.find(first);
  auto b = body->siteByName.find(second);
  if (a == body->siteByName.end() || b == body->siteByName.end()) return false;
  ZvKinSite& p = body->sites[size_t(a->second)];
  ZvKinSite& c = body->sites[size_t(b->second)];
  ZvKinSegment& child = body->segments[size_t(c.segment)];
  if (a->second == b->second || p.segment == c.segment || p.partner >= 0 || c.partner >= 0 || child.attach >= 0)
    return false;
  p.partner = b->second;
  c.partner = a->second;
  c.used = 1;
  child.attach = b->second;
  return true;
}

const char* parseBody(Tokens& in, ZvKinBody* body) {
  if (!in.skipPast("bgnbody")) return kCorrupted[0];
  if (!in.expect("name")) return kCorrupted[2];
  if (!in.name(body->name)) return kCorrupted[2];
  std::string_view t;
  while (in.peek(t) && t == "bgnsegment") {
    in.next(t);
    if (!parseSegment(in, body)) return kBadSegment;
  }
  std::string rootName;
  if (!in.expect("root") || !in.name(rootName) || !in.expect("xfm") ||
      !readXfm(in, body->rootRotation, body->rootTranslation))
    return kBadRoot;
  auto root = body->siteByName.find(rootName);
  if (root == body->siteByName.end()) return kBadRoot;
  body->rootSite = root->second;
  body->rootSegment = body->sites[size_t(root->second)].segment;
  ZvKinSegment& rootSegment = body->segments[size_t(body->rootSegment)];
  rootSegment.attach = body->rootSite;
  body->sites[size_t(body->rootSite)].used = 1;
  // A joint that does not parse ends the list; what follows must then be
  // the handles or the end.
  while (in.peek(t) && t == "bgnjoint") {
    in.next(t);
    ZvKinJoint joint{};
    std::string first, second;
    if (!in.expect("name") || !in.name(joint.name) || !in.expect("connect") || !in.name(first) || !in.name(second))
      break;
    if (!connect(body, first, second)) return kBadJoint;
    joint.first = body->siteByName[first];
    joint.second = body->siteByName[second];
    if (!body->jointByName.emplace(joint.name, int(body->joints.size())).second) return kBadJoint;
    body->joints.push_back(std::move(joint));
    if (!in.skipPast("endjoint")) return kBadJoint;
  }
  if (!in.next(t) || (t != "bgnhandle" && t != "endbody")) return kBadHandles;
  if (t != "endbody" && !in.skipPast("endbody")) return kBadHandles;
  return nullptr;
}

bool parseCapture(Tokens& in, ZvKinBody* body) {
  if (!in.skipPast("bgncapture")) return false;
  std::string name;
  long channels;
  if (!in.expect("bgninput") || !in.expect("name") || !in.name(name) || !in.expect("file") || !in.integer(channels) ||
      !in.expect("filename") || !in.name(name) || !in.expect("endinput"))
    return false;
  // Six numbers place the root; fewer cannot make a frame.
  if (channels < 6 || channels > ZV_KIN_CHANNELS_MAX) return false;
  body->channels = int32_t(channels);
  std::string_view t;
  for (;;) {
    if (!in.next(t)) return false;
    if (t == "endcapture") return true;
    if (t != "bgntarget") continue;
    std::string kind, target;
    double unused;
    long channel;
    if (!in.expect("object") || !in.name(kind) || !in.name(target) || !in.real(unused) || !in.real(unused) ||
        !in.integer(channel))
      return false;
    if (kind == "joint") {
      size_t dot = target.find('.');
      if (dot == std::string::npos || channel < 0 || channel >= channels) return false;
      auto joint = body->jointByName.find(target.substr(dot + 1));
      if (joint == body->jointByName.end()) return false;
      int site = body->joints[size_t(joint->second)].second;
      body->segments[size_t(body->sites[size_t(site)].segment)].channel = int(channel);
    }
    // Targets of kind "body" and of kinds we do not know drive nothing.
    if (!in.skipPast("endtarget")) return false;
  }
}

// Rows from the root outward; an unreachable segment is left unplaced.
bool place(ZvKinBody* body) {
  ZvKinSegment& root = body->segments[size_t(body->rootSegment)];
  std::memcpy(root.rotation, body->rootRotation, sizeof root.rotation);
  std::memcpy(root.position, body->rootTranslation, sizeof root.position);
  zvKinTranspose(body->sites[size_t(body->rootSite)].rotation, root.attachTranspose);
  root.placed = 1;
  root.depth = 0;
  body->order.clear();
  body->order.push_back(body->rootSegment);
  for (size_t i = 0; i < body->order.size(); ++i) {
    int s = body->order[i];
    ZvKinSegment& parent = body->segments[size_t(s)];
    const ZvKinSite& r = body->sites[size_t(parent.attach)];
    for (int q : parent.sites) {
      if (q == parent.attach) continue;
      const ZvKinSite& Q = body->sites[size_t(q)];
      if (Q.partner < 0) continue;
      const ZvKinSite& P = body->sites[size_t(Q.partner)];
      ZvKinSegment& child = body->segments[size_t(P.segment)];
      // Joints give every segment one parent, so a second visit or a deep
      // chain is a file we will not build.
      if (child.placed || child.attach != Q.partner || parent.depth + 1 > ZV_KIN_DEPTH_MAX) return false;
      for (int k = 0; k < 3; ++k) child.position[k] = Q.translation[k] - r.translation[k];
      std::memcpy(child.rotation, Q.rotation, sizeof child.rotation);
      zvKinTranspose(P.rotation, child.attachTranspose);
      child.placed = 1;
      child.parent = s;
      child.depth = parent.depth + 1;
      body->order.push_back(P.segment);
    }
  }
  // The site lists hold the sites a bone is drawn to.
  for (ZvKinSegment& segment : body->segments) {
    std::vector<int> rest;
    for (int q : segment.sites)
      if (q != segment.attach) rest.push_back(q);
    segment.sites.swap(rest);
  }
  return true;
}

float* allocFloats(size_t count) {
  if (count > SIZE_MAX / sizeof(float)) return nullptr;
  return static_cast<float*>(zvMalloc(count * sizeof(float)));
}

bool loadMotion(Tokens& in, ZvKinBody* body, size_t fileSize) {
  const size_t channels = size_t(body->channels);
  // Every number is a character and a separator: lines that could not hold
  // their numbers are refused before anything is allocated for them.
  size_t frames = in.lineFeeds();
  if (frames == 0 || frames > (in.left() + 1) / 2 / channels || frames > size_t(INT32_MAX)) return false;
  std::vector<int> driven;
  for (size_t s = 0; s < body->segments.size(); ++s) {
    int k = body->segments[s].channel;
    if (k < 6) continue;  // the first six numbers place the root
    // A joint reads its channel and the one on each side: the last number
    // of a line has nothing after it.
    if (size_t(k) + 1 >= channels) {
      zvMessage("Kinemation capture channel %d has no channel after it.", k);
      return false;
    }
    driven.push_back(int(s));
  }
  size_t perFrame = 12 + 9 * driven.size();
  if (perFrame > SIZE_MAX / sizeof(float) / frames ||
      frames * perFrame * sizeof(float) > 16 * fileSize + (size_t(64) << 20)) {
    zvMessage("%s", "movDataAlloc: memory allocation failed");
    return false;
  }
  body->frameRotation = allocFloats(frames * 9);
  body->frameDisplacement = allocFloats(frames * 3);
  bool ok = body->frameRotation && body->frameDisplacement;
  for (size_t i = 0; ok && i < driven.size(); ++i)
    ok = (body->segments[size_t(driven[i])].joint = allocFloats(frames * 9)) != nullptr;
  if (!ok) {
    zvMessage("%s", "movDataAlloc: memory allocation failed");
    return false;
  }
  body->frames = int32_t(frames);
  std::vector<float> line(channels);
  float previous[3];
  std::memcpy(previous, body->rootTranslation, sizeof previous);
  for (size_t f = 0; f < frames; ++f) {
    for (size_t c = 0; c < channels; ++c)
      if (!in.number(line[c])) return false;
    float* d = body->frameDisplacement + 3 * f;
    for (int k = 0; k < 3; ++k) {
      d[k] = line[size_t(k)] - previous[k];
      previous[k] = line[size_t(k)];
    }
    zvKinXfmRotation(line[3], line[4], line[5], body->frameRotation + 9 * f);
    for (int s : driven) {
      ZvKinSegment& segment = body->segments[size_t(s)];
      size_t k = size_t(segment.channel);
      zvKinXfmRotation(line[k - 1], line[k], line[k + 1], segment.joint + 9 * f);
    }
  }
  return true;
}

}  // namespace

ZvKinBody::~ZvKinBody() {
  zvFree(frameRotation);
  zvFree(frameDisplacement);
  for (ZvKinSegment& s : segments) zvFree(s.joint);
}

void zvKinXfmRotation(double rx, double ry, double rz, float out[9]) {
  const double toRadians = M_PI / 180.0;
  double a = -rx * toRadians, b = -ry * toRadians, c = -rz * toRadians;
  double sa = std::sin(a), ca = std::cos(a), sb = std::sin(b), cb = std::cos(b), sc = std::sin(c), cc = std::cos(c);
  const double m[9] = {
      cc * cb,                sc * cb,                -sb,
      cc * sb * sa - sc * ca, sc * sb * sa + cc * ca, cb * sa,
      cc * sb * ca + sc * sa, sc * sb * ca - cc * sa, cb * ca,
  };
  // Stored transposed.
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[3 * i + j] = float(m[3 * j + i]);
}

void zvKinMultiply(const float a[9], const float b[9], float out[9]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      out[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
}

void zvKinTranspose(const float a[9], float out[9]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[3 * i + j] = a[3 * j + i];
}

ZvKinBody* zvKinParse(const char* data, size_t size) {
  if (!data) return nullptr;
  ZvKinBody* body = new (std::nothrow) ZvKinBody;
  if (!body) {
    zvMessage("%s", "zvKinNew: Can't allocate ZvKinBody structure.\n");
    return nullptr;
  }
  try {
    Tokens in(data, size);
    if (const char* failure = parseBody(in, body)) {
      zvMessage("%s", failure);
      zvMessage("%s", "zvKinNew: zvKinParseBody failed.");
    } else if (!parseCapture(in, body)) {
      zvMessage("%s", "zvKinNew: parseCapFile failed.");
    } else {
      in.skipLine();
      if (in.lineFeeds() == 0) {
        zvMessage("%s", "zvKinNew: zvLineCount failed.");
      } else if (!loadMotion(in, body, size)) {
        zvMessage("%s", "zvKinNew: zvLoadMov failed.");
      } else if (!place(body)) {
        zvMessage("%s", kBadTree);
        zvMessage("%s", "zvKinNew: faild.");
      } else {
        return body;
      }
    }
  } catch (const std::bad_alloc&) {
    zvMessage("%s", "parseSegment: memory allocation error");
  }
  delete body;
  return nullptr;
}

void zvKinFreeBody(ZvKinBody* body) { delete body; }
