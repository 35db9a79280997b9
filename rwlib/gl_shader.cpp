// gl_shader.cpp — the programs everything is drawn with: lit surfaces, in
// an untextured and a textured variant (wireframe edges use them unlit), and
// backdrops copied texel for pixel.
//
// Lighting is per vertex, in world coordinates: batched geometry is baked
// into world space already, and clumps with their own buffers bring their
// transform as uModel. Software rasterisers spend a frame on fragments, so
// fragments only pick a side and apply the texel. Colour = polygon colour ×
// texel × (ambient + diffuse) + specular, clamped. Both sides of two-sided
// polygons are lit at each vertex (the back with the normal turned round),
// and each fragment takes the side it shows.
#include <cstdio>
#include <string>

#include "rwlib/gl_priv.h"

RwGlPrograms rwGlPrograms;

namespace {

// Lights: position.w is the kind (1 directional, 2 point, 3 spot);
// direction is where the light travels, direction.w the cosine of a spot's
// half angle. A polygon's colour and surface are the same at every corner.
const char* const kSurfaceVertex = R"(
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColor;
layout(location = 3) in vec4 aSurface;
layout(location = 4) in vec2 aUV;
layout(location = 5) in vec3 aOffset;  // a copy's place; (0, 0, 0) where nothing is bound
uniform mat4 uViewProj;
uniform mat4 uModel;
uniform mat3 uNormalMatrix;
uniform int uLit;
uniform int uTwoSided;
uniform float uAmbient;
uniform int uLightCount;
uniform vec4 uLightPos[16];
uniform vec4 uLightDir[16];
uniform vec3 uLightColor[16];
uniform vec3 uEye;
uniform int uParallel;
uniform vec3 uViewDir;
out vec4 vFront;
out vec3 vBack;
#ifdef TEXTURED
out vec3 vFrontHighlight;
out vec3 vBackHighlight;
out vec2 vUV;
#endif
float power16(float x) {
  x *= x;
  x *= x;
  x *= x;
  return x * x;
}
void main() {
  vec4 world = uModel * vec4(aPosition + aOffset, 1.0);
  gl_Position = uViewProj * world;
  vec3 front = vec3(1.0), back = vec3(1.0);
  vec3 frontHighlight = vec3(0.0), backHighlight = vec3(0.0);
  if (uLit != 0) {
    front = back = vec3(aSurface.x * uAmbient);
    vec3 n = uNormalMatrix * aNormal;
    float length2 = dot(n, n);
    if (length2 > 1e-12) {
      n *= inversesqrt(length2);
      bool shiny = aSurface.z > 0.0;  // most surfaces are not: spare them the highlight
      vec3 v = uParallel != 0 ? -uViewDir : normalize(uEye - world.xyz);
      for (int i = 0; i < uLightCount; ++i) {
        vec3 l;
        if (uLightPos[i].w < 1.5) {
          l = -uLightDir[i].xyz;
        } else {
          l = normalize(uLightPos[i].xyz - world.xyz);
          if (uLightPos[i].w > 2.5 && dot(-l, uLightDir[i].xyz) < uLightDir[i].w) continue;
        }
        float d = dot(n, l);
        float s = shiny ? dot(n, normalize(l + v)) : 0.0;
        if (d > 0.0) {
          front += aSurface.y * d * uLightColor[i];
          if (shiny) frontHighlight += aSurface.z * power16(max(s, 0.0)) * uLightColor[i];
        } else if (uTwoSided != 0 && d < 0.0) {
          back -= aSurface.y * d * uLightColor[i];
          if (shiny) backHighlight += aSurface.z * power16(max(-s, 0.0)) * uLightColor[i];
        }
      }
    }
  }
#ifdef TEXTURED
  vFront = vec4(aColor.rgb * front, aColor.a);
  vBack = aColor.rgb * back;
  vFrontHighlight = frontHighlight;
  vBackHighlight = backHighlight;
  vUV = aUV;
#else
  vFront = vec4(min(aColor.rgb * front + frontHighlight, vec3(1.0)), aColor.a);
  vBack = min(aColor.rgb * back + backHighlight, vec3(1.0));
#endif
}
)";

const char* const kSurfaceFragment = R"(
in vec4 vFront;
in vec3 vBack;
#ifdef TEXTURED
in vec3 vFrontHighlight;
in vec3 vBackHighlight;
in vec2 vUV;
uniform sampler2D uTexture;
#endif
out vec4 fragColor;
void main() {
#ifdef TEXTURED
  vec4 texel = texture(uTexture, vUV);
  vec3 lit = gl_FrontFacing ? vFront.rgb : vBack;
  vec3 highlight = gl_FrontFacing ? vFrontHighlight : vBackHighlight;
  fragColor = vec4(min(lit * texel.rgb + highlight, vec3(1.0)), vFront.a * texel.a);
#else
  fragColor = vec4(gl_FrontFacing ? vFront.rgb : vBack, vFront.a);
#endif
}
)";

// One triangle over the whole viewport; the scissor keeps it to the rect.
const char* const kBackdropVertex = R"(
void main() {
  vec2 corner = vec2(float((gl_VertexID & 1) << 2) - 1.0, float((gl_VertexID & 2) << 1) - 1.0);
  gl_Position = vec4(corner, 0.0, 1.0);
}
)";

// uOrigin is the raster texel under the viewport's top-left pixel, its x
// already brought into [0, width) so the modulo below sees no negatives.
const char* const kBackdropFragment = R"(
uniform sampler2D uRaster;
uniform ivec2 uOrigin;
uniform int uViewHeight;
out vec4 fragColor;
void main() {
  ivec2 size = textureSize(uRaster, 0);
  int x = int(gl_FragCoord.x) + uOrigin.x;
  int y = uViewHeight - 1 - int(gl_FragCoord.y) + uOrigin.y;
  if (y < 0 || y >= size.y) discard;
  fragColor = vec4(texelFetch(uRaster, ivec2(x % size.x, y), 0).rgb, 1.0);
}
)";

GLuint compile(GLenum type, const char* source) {
  GLuint shader = gl.CreateShader(type);
  gl.ShaderSource(shader, 1, &source, nullptr);
  gl.CompileShader(shader);
  GLint ok = GL_FALSE;
  gl.GetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[1024] = {0};
    gl.GetShaderInfoLog(shader, sizeof log, nullptr, log);
    fprintf(stderr, "rwlib: shader does not compile: %s\n", log);
    gl.DeleteShader(shader);
    return 0;
  }
  return shader;
}

GLuint link(const char* vertexSource, const char* fragmentSource, const char* prefix = "") {
  std::string vertexText = std::string(prefix) + vertexSource;
  std::string fragmentText = std::string(prefix) + fragmentSource;
  GLuint vertex = compile(GL_VERTEX_SHADER, vertexText.c_str());
  GLuint fragment = compile(GL_FRAGMENT_SHADER, fragmentText.c_str());
  GLuint program = 0;
  if (vertex && fragment) {
    program = gl.CreateProgram();
    gl.AttachShader(program, vertex);
    gl.AttachShader(program, fragment);
    gl.LinkProgram(program);
    GLint ok = GL_FALSE;
    gl.GetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
      char log[1024] = {0};
      gl.GetProgramInfoLog(program, sizeof log, nullptr, log);
      fprintf(stderr, "rwlib: shaders do not link: %s\n", log);
      gl.DeleteProgram(program);
      program = 0;
    }
  }
  if (vertex) gl.DeleteShader(vertex);
  if (fragment) gl.DeleteShader(fragment);
  return program;
}

bool findSurface(RwGlSurfaceProgram& p, const char* prefix) {
  p.program = link(kSurfaceVertex, kSurfaceFragment, prefix);
  if (!p.program) return false;
  GLuint s = p.program;
  p.viewProj = gl.GetUniformLocation(s, "uViewProj");
  p.model = gl.GetUniformLocation(s, "uModel");
  p.normalMatrix = gl.GetUniformLocation(s, "uNormalMatrix");
  p.lit = gl.GetUniformLocation(s, "uLit");
  p.twoSided = gl.GetUniformLocation(s, "uTwoSided");
  p.texture = gl.GetUniformLocation(s, "uTexture");
  p.ambient = gl.GetUniformLocation(s, "uAmbient");
  p.lightCount = gl.GetUniformLocation(s, "uLightCount");
  p.lightPos = gl.GetUniformLocation(s, "uLightPos");
  p.lightDir = gl.GetUniformLocation(s, "uLightDir");
  p.lightColor = gl.GetUniformLocation(s, "uLightColor");
  p.eye = gl.GetUniformLocation(s, "uEye");
  p.parallel = gl.GetUniformLocation(s, "uParallel");
  p.viewDir = gl.GetUniformLocation(s, "uViewDir");
  gl.UseProgram(s);
  if (p.texture >= 0) gl.Uniform1i(p.texture, 0);
  gl.UseProgram(0);
  return true;
}

}  // namespace

bool rwGlCreatePrograms(void) {
  RwGlPrograms& p = rwGlPrograms;
  p = RwGlPrograms{};
  p.backdrop.program = link(kBackdropVertex, kBackdropFragment, "#version 330 core\n");
  if (!findSurface(p.surface[0], "#version 330 core\n") ||
      !findSurface(p.surface[1], "#version 330 core\n#define TEXTURED 1\n") || !p.backdrop.program) {
    rwGlDeletePrograms();
    return false;
  }
  GLuint b = p.backdrop.program;
  p.backdrop.raster = gl.GetUniformLocation(b, "uRaster");
  p.backdrop.origin = gl.GetUniformLocation(b, "uOrigin");
  p.backdrop.viewHeight = gl.GetUniformLocation(b, "uViewHeight");
  gl.UseProgram(b);
  gl.Uniform1i(p.backdrop.raster, 0);
  gl.UseProgram(0);
  gl.GenVertexArrays(1, &p.emptyVao);
  return true;
}

void rwGlDeletePrograms(void) {
  RwGlPrograms& p = rwGlPrograms;
  for (RwGlSurfaceProgram& surface : p.surface)
    if (surface.program) gl.DeleteProgram(surface.program);
  if (p.backdrop.program) gl.DeleteProgram(p.backdrop.program);
  if (p.emptyVao) gl.DeleteVertexArrays(1, &p.emptyVao);
  p = RwGlPrograms{};
}
