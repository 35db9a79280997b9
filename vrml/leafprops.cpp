// leafprops.cpp — what a shape leaf takes from the traversal state: its
// material, its texture (file, mask, transform, coordinates, wrapping) and
// the file names it refers to.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "vrml/traverse.h"
#include "vrml/vrml.h"
#include "www/www.h"

ZvUrlHash* qvLoadFile(QvState* state, const char* who, const char* name) {
  if (!name) {
    zvMessage("%s::callZvWwwLoadFile: %s", who, "argument's filename is null.");
    return nullptr;
  }
  // Relative names resolve against the file they stand in, so an inlined
  // file from another folder finds its own textures and inlines.
  char absolute[4096];
  const char* url = name;
  if (state && !state->baseUrl.empty() && zvUrlScheme(name) == ZV_SCHEME_NONE &&
      zvResolveUrl(state->baseUrl.c_str(), name, absolute, sizeof absolute) == 0)
    url = absolute;
  ZvUrlHash* entry = zvWwwLoadFile(url);
  if (!entry) zvMessage("%s::callZvWwwLoadFile: %s", who, "zvWwwLoadFile() failed.");
  return entry;
}

QvMaterial* qvStateMaterial(QvState* state) {
  return static_cast<QvMaterial*>(state->topNode(QV_STACK_MATERIAL));
}

namespace {

bool setColors(ZvMFColor* dst, const std::vector<QvVec3>& src) {
  int n = int(src.size());
  if (n == 0) return true;
  auto* v = static_cast<ZvSFColor*>(zvMalloc(sizeof(ZvSFColor) * size_t(n)));
  if (!v) return false;
  for (int i = 0; i < n; ++i) v[i] = {src[size_t(i)].v[0], src[size_t(i)].v[1], src[size_t(i)].v[2]};
  zvFree(dst->values);
  dst->values = v;
  dst->count = n;
  return true;
}

bool setFloats(ZvMFFloat* dst, const std::vector<float>& src) {
  int n = int(src.size());
  if (n == 0) return true;
  auto* v = static_cast<float*>(zvMalloc(sizeof(float) * size_t(n)));
  if (!v) return false;
  std::memcpy(v, src.data(), sizeof(float) * size_t(n));
  zvFree(dst->values);
  dst->values = v;
  dst->count = n;
  return true;
}

bool setDefaultMaterial(ZvMaterial* m) {
  static const std::vector<QvVec3> ambient{{{0.2f, 0.2f, 0.2f}}}, diffuse{{{0.8f, 0.8f, 0.8f}}}, black{{{0, 0, 0}}};
  static const std::vector<float> shininess{0.2f}, transparency{0};
  m->maxElement = 1;
  return setColors(&m->ambient, ambient) && setColors(&m->diffuse, diffuse) && setColors(&m->specular, black) &&
         setColors(&m->emissive, black) && setFloats(&m->shininess, shininess) &&
         setFloats(&m->transparency, transparency);
}

}  // namespace

int qvSetLeafMaterial(QvState* state, ZvShape* leaf) {
  if (!leaf) return ZV_FAIL;
  QvMaterial* mat = qvStateMaterial(state);
  ZvMaterial* m = &leaf->material;
  bool ok;
  if (!mat) {
    ok = setDefaultMaterial(m);
  } else {
    ok = setColors(&m->ambient, mat->ambientColor.values) && setColors(&m->diffuse, mat->diffuseColor.values) &&
         setColors(&m->specular, mat->specularColor.values) && setColors(&m->emissive, mat->emissiveColor.values) &&
         setFloats(&m->shininess, mat->shininess.values) && setFloats(&m->transparency, mat->transparency.values);
    int n = 0;
    for (int c : {mat->ambientColor.num(), mat->diffuseColor.num(), mat->specularColor.num(),
                  mat->emissiveColor.num(), mat->shininess.num(), mat->transparency.num()})
      n = c > n ? c : n;
    m->maxElement = n;
  }
  if (!ok) {
    zvMessage("%s: %s%s", "QvNode::setZvMaterial()", "Couldn't allocate memory ", "for material.zvColorName.colors");
    return ZV_NOMEM;
  }
  return ZV_OK;
}

namespace {

int16_t wrapOf(const QvSFEnum& f, const char* message) {
  if (f.value == 0 || f.value == 1) return int16_t(f.value);
  zvMessage("%s", message);
  return 0;
}

// The texture transform as a 2x3 matrix (1 0 0 1 0 0 is none): scale and
// turn about the centre, then move.
void setTextureTransform(ZvTexture* t, const QvTexture2Transform* x) {
  float c = std::cos(x->rotation.value), s = std::sin(x->rotation.value);
  float sx = x->scaleFactor.value[0], sy = x->scaleFactor.value[1];
  float cx = x->center.value[0], cy = x->center.value[1];
  float a = c * sx, b = s * sx, d = -s * sy, e = c * sy;
  t->transform[0] = a;
  t->transform[1] = b;
  t->transform[2] = d;
  t->transform[3] = e;
  t->transform[4] = x->translation.value[0] + cx - (a * cx + d * cy);
  t->transform[5] = x->translation.value[1] + cy - (b * cx + e * cy);
}

// The Movie2 node in effect wins over Texture2 and TransparentTexture2. It
// stays in effect for later shapes; after an error it is dropped.
int setMovie(QvState* state, ZvTexture* t, QvMovie2* node, const char* who) {
  auto failed = [&](const char* what) {
    zvMessage("%s: %s", who, what);
    state->popElement(QV_STACK_MOVIE2);
    return ZV_FAIL;
  };
  if (node->filename.value.empty()) return failed("pMovie2->getFileNameField() failed.");
  ZvMovieDesc desc{};
  if (qvParseMovieOption(node->option.value.c_str(), &desc) != ZV_OK) return failed("pMovie2->getOptionField() failed.");
  if (!t->texture) t->texture = qvLoadFile(state, who, node->filename.value.c_str());
  t->mask = nullptr;
  desc.file = t->texture;
  desc.autoPlay = node->autoPlay.value ? 1 : 0;
  ZvReaderHooks& hooks = zvReaderHooks();
  if (hooks.newMovie) {
    t->movie = hooks.newMovie(&desc);
    if (!t->movie) {
      zvFree(const_cast<char*>(desc.sound));
      return failed("zvNewMovie() failed.");
    }
  }
  zvFree(const_cast<char*>(desc.sound));
  return ZV_OK;
}

}  // namespace

int qvParseMovieOption(const char* text, ZvMovieDesc* out) {
  if (!out) return ZV_FAIL;
  out->framesPerSec = 4.0f;
  out->width = out->height = 128;
  out->sound = nullptr;
  if (!text) return ZV_OK;
  static const char* const kKeys[] = {"framesPerSec", "width", "height", "sound"};
  const char* p = text;
  while (*p) {
    while (*p == ' ' || *p == '\t') ++p;
    int key = -1;
    for (int k = 0; k < 4 && key < 0; ++k)
      if (std::strncmp(p, kKeys[k], std::strlen(kKeys[k])) == 0) key = k;
    if (key < 0) break;
    p += std::strlen(kKeys[key]);
    while (*p == ' ' || *p == '\t' || *p == '=') ++p;
    const char* end = std::strchr(p, ',');
    if (!end) end = p + std::strlen(p);
    std::string value(p, size_t(end - p));
    switch (key) {
      case 0:
        if (std::sscanf(value.c_str(), "%f", &out->framesPerSec) != 1 || !std::isfinite(out->framesPerSec)) {
          out->framesPerSec = 4.0f;
          zvMessage("%s: fails to get value.\n", "cb_framesPerSec");
        }
        break;
      case 1:
      case 2: {
        int32_t* field = key == 1 ? &out->width : &out->height;
        if (std::sscanf(value.c_str(), "%d", field) != 1) {
          *field = 128;
          zvMessage("%s: fails to get value.\n", key == 1 ? "cb_width" : "cb_height");
        }
        break;
      }
      default: {
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        if (!value.empty() && value.front() == '"') value.erase(0, 1);
        if (!value.empty() && value.back() == '"') value.pop_back();
        zvFree(const_cast<char*>(out->sound));
        out->sound = zvStrdup(value.c_str());
        if (!out->sound) {
          zvMessage("cb_sound: zvStrdup() failed.\n");
          return ZV_FAIL;
        }
      }
    }
    if (!*end) break;
    p = end + 1;
  }
  return ZV_OK;
}

int qvSetLeafTexture(QvState* state, ZvShape* leaf, const char* who, bool withCoords) {
  if (!leaf) return ZV_FAIL;
  ZvTexture* t = &leaf->texture;
  if (auto* x = static_cast<QvTexture2Transform*>(state->topNode(QV_STACK_TEXTURE2_TRANSFORM)))
    setTextureTransform(t, x);
  auto* tc = withCoords ? static_cast<QvTextureCoordinate2*>(state->topNode(QV_STACK_TEXTURE_COORDINATE2)) : nullptr;
  if (tc) {
    int n = tc->point.num();
    if (n > 0) {
      auto* uv = static_cast<ZvSFVec2f*>(zvMalloc(sizeof(ZvSFVec2f) * size_t(n)));
      if (!uv) {
        zvMessage("%s: setZvTextureCoordinate2() failed.", who);
        return ZV_NOMEM;
      }
      for (int i = 0; i < n; ++i) uv[i] = {tc->point.values[size_t(i)].v[0], tc->point.values[size_t(i)].v[1]};
      if (t->uvCount > 0) zvFree(t->uv);
      t->uv = uv;
      t->uvCount = n;
    }
  }
  if (auto* movie = static_cast<QvMovie2*>(state->topNode(QV_STACK_MOVIE2))) return setMovie(state, t, movie, who);
  auto* tex = static_cast<QvTexture2*>(state->topNode(QV_STACK_TEXTURE2));
  auto* ttex = static_cast<QvTransparentTexture2*>(state->topNode(QV_STACK_TRANSPARENT_TEXTURE2));
  if (tex && ttex) {
    zvMessage("%s: Texture2 and TransparentTexture2 is exist.", who);
    return ZV_OK;
  }
  if (tex) {
    if (!tex->filename.value.empty()) t->texture = qvLoadFile(state, who, tex->filename.value.c_str());
    t->mask = nullptr;
    char m1[128], m2[128];
    std::snprintf(m1, sizeof m1, "%s: invalid wrapS field.", who);
    std::snprintf(m2, sizeof m2, "%s: invalid wrapT field.", who);
    t->wrapS = wrapOf(tex->wrapS, m1);
    t->wrapT = wrapOf(tex->wrapT, m2);
  } else if (ttex) {
    if (!ttex->filename.value.empty()) t->texture = qvLoadFile(state, who, ttex->filename.value.c_str());
    if (!ttex->maskFilename.value.empty()) {
      t->mask = qvLoadFile(state, who, ttex->maskFilename.value.c_str());
      if (!t->mask) t->texture = nullptr;
    }
    t->wrapS = wrapOf(ttex->wrapS, "QvNode::setZvTransparentTexture(): invalid wrapS info.");
    t->wrapT = wrapOf(ttex->wrapT, "QvNode::setZvTransparentTexture(): invalid wrapT info.");
  }
  return ZV_OK;
}
