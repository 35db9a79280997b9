// gl_shader.cpp — the two programs everything is drawn with: lit surfaces
// (and their wireframe edges, unlit), and backdrops copied texel for pixel.
//
// Lighting is per fragment, in world coordinates: batched geometry is baked
// into world space already, and clumps with their own buffers bring their
// transform as uModel. Colour = base × (ambient + diffuse) + specular, with
// base the polygon colour times the texel.
#include <cstdio>

#include "rwlib/gl_priv.h"

RwGlPrograms rwGlPrograms;

namespace {

const char* const kSurfaceVertex = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColor;
layout(location = 3) in vec4 aSurface;
layout(location = 4) in vec2 aUV;
uniform mat4 uViewProj;
uniform mat4 uModel;
uniform mat3 uNormalMatrix;
out vec3 vPosition;
out vec3 vNormal;
out vec4 vColor;
out vec3 vSurface;
out vec2 vUV;
void main() {
  vec4 world = uModel * vec4(aPosition, 1.0);
  vPosition = world.xyz;
  vNormal = uNormalMatrix * aNormal;
  vColor = aColor;
  vSurface = aSurface.xyz;
  vUV = aUV;
  gl_Position = uViewProj * world;
}
)";

// Lights: position.w is the kind (1 directional, 2 point, 3 spot);
// direction is where the light travels, direction.w the cosine of a spot's
// half angle.
const char* const kSurfaceFragment = R"(#version 330 core
in vec3 vPosition;
in vec3 vNormal;
in vec4 vColor;
in vec3 vSurface;
in vec2 vUV;
uniform int uLit;
uniform int uTextured;
uniform sampler2D uTexture;
uniform float uAmbient;
uniform int uLightCount;
uniform vec4 uLightPos[16];
uniform vec4 uLightDir[16];
uniform vec3 uLightColor[16];
uniform vec3 uEye;
uniform int uParallel;
uniform vec3 uViewDir;
out vec4 fragColor;
void main() {
  vec4 base = vColor;
  if (uTextured != 0) base *= texture(uTexture, vUV);
  if (base.a <= 0.0) discard;
  if (uLit == 0) {
    fragColor = base;
    return;
  }
  vec3 light = vec3(vSurface.x * uAmbient);
  vec3 highlight = vec3(0.0);
  float length2 = dot(vNormal, vNormal);
  if (length2 > 1e-12) {
    vec3 n = vNormal * inversesqrt(length2);
    if (!gl_FrontFacing) n = -n;
    vec3 v = uParallel != 0 ? -uViewDir : normalize(uEye - vPosition);
    for (int i = 0; i < uLightCount; ++i) {
      vec3 l;
      if (uLightPos[i].w < 1.5) {
        l = -uLightDir[i].xyz;
      } else {
        l = normalize(uLightPos[i].xyz - vPosition);
        if (uLightPos[i].w > 2.5 && dot(-l, uLightDir[i].xyz) < uLightDir[i].w) continue;
      }
      float d = dot(n, l);
      if (d <= 0.0) continue;
      light += vSurface.y * d * uLightColor[i];
      vec3 h = normalize(l + v);
      highlight += vSurface.z * pow(max(dot(n, h), 0.0), 16.0) * uLightColor[i];
    }
  }
  fragColor = vec4(min(base.rgb * light + highlight, vec3(1.0)), base.a);
}
)";

// One triangle over the whole viewport; the scissor keeps it to the rect.
const char* const kBackdropVertex = R"(#version 330 core
void main() {
  vec2 corner = vec2(float((gl_VertexID & 1) << 2) - 1.0, float((gl_VertexID & 2) << 1) - 1.0);
  gl_Position = vec4(corner, 0.0, 1.0);
}
)";

// uOrigin is the raster texel under the viewport's top-left pixel, its x
// already brought into [0, width) so the modulo below sees no negatives.
const char* const kBackdropFragment = R"(#version 330 core
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

GLuint link(const char* vertexSource, const char* fragmentSource) {
  GLuint vertex = compile(GL_VERTEX_SHADER, vertexSource);
  GLuint fragment = compile(GL_FRAGMENT_SHADER, fragmentSource);
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

}  // namespace

bool rwGlCreatePrograms(void) {
  RwGlPrograms& p = rwGlPrograms;
  p = RwGlPrograms{};
  p.surface.program = link(kSurfaceVertex, kSurfaceFragment);
  p.backdrop.program = link(kBackdropVertex, kBackdropFragment);
  if (!p.surface.program || !p.backdrop.program) {
    rwGlDeletePrograms();
    return false;
  }
  GLuint s = p.surface.program;
  p.surface.viewProj = gl.GetUniformLocation(s, "uViewProj");
  p.surface.model = gl.GetUniformLocation(s, "uModel");
  p.surface.normalMatrix = gl.GetUniformLocation(s, "uNormalMatrix");
  p.surface.lit = gl.GetUniformLocation(s, "uLit");
  p.surface.textured = gl.GetUniformLocation(s, "uTextured");
  p.surface.texture = gl.GetUniformLocation(s, "uTexture");
  p.surface.ambient = gl.GetUniformLocation(s, "uAmbient");
  p.surface.lightCount = gl.GetUniformLocation(s, "uLightCount");
  p.surface.lightPos = gl.GetUniformLocation(s, "uLightPos");
  p.surface.lightDir = gl.GetUniformLocation(s, "uLightDir");
  p.surface.lightColor = gl.GetUniformLocation(s, "uLightColor");
  p.surface.eye = gl.GetUniformLocation(s, "uEye");
  p.surface.parallel = gl.GetUniformLocation(s, "uParallel");
  p.surface.viewDir = gl.GetUniformLocation(s, "uViewDir");
  GLuint b = p.backdrop.program;
  p.backdrop.raster = gl.GetUniformLocation(b, "uRaster");
  p.backdrop.origin = gl.GetUniformLocation(b, "uOrigin");
  p.backdrop.viewHeight = gl.GetUniformLocation(b, "uViewHeight");
  gl.UseProgram(s);
  gl.Uniform1i(p.surface.texture, 0);
  gl.UseProgram(b);
  gl.Uniform1i(p.backdrop.raster, 0);
  gl.UseProgram(0);
  gl.GenVertexArrays(1, &p.emptyVao);
  return true;
}

void rwGlDeletePrograms(void) {
  RwGlPrograms& p = rwGlPrograms;
  if (p.surface.program) gl.DeleteProgram(p.surface.program);
  if (p.backdrop.program) gl.DeleteProgram(p.backdrop.program);
  if (p.emptyVao) gl.DeleteVertexArrays(1, &p.emptyVao);
  p = RwGlPrograms{};
}
