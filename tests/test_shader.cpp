// Shader records: exact bytes of file-loaded sources, building and rebuilding
// programs, the engine's fixed shader set, and every failure path.
#include "gl_context.h"
#include "kro_internal.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

const char *kVertexText = "void main(){gl_Position=gl_ModelViewProjectionMatrix*gl_Vertex;}";
const char *kFragmentText = "void main(){gl_FragColor=vec4(1.0,0.5,0.0,1.0);}";
const char *kOtherFragmentText = "void main(){gl_FragColor=vec4(0.0);}";

bool compiled(GLhandleARB object) {
  GLint status = 0;
  glGetObjectParameterivARB(object, GL_OBJECT_COMPILE_STATUS_ARB, &status);
  return status == GL_TRUE;
}

bool linked(GLhandleARB program) {
  GLint status = 0;
  glGetObjectParameterivARB(program, GL_OBJECT_LINK_STATUS_ARB, &status);
  return status == GL_TRUE;
}

std::string sourceOf(GLhandleARB object) {
  static char text[1 << 16];
  GLsizei length = 0;
  glGetShaderSourceARB(object, sizeof text, &length, text);
  return std::string(text, length);
}

bool isEmpty(const kroShader &s) {
  static const kroShader zero = {};
  return memcmp(&s, &zero, sizeof s) == 0;
}

std::string vertexSource(const kroShader &s) {
  return std::string(s.vertex_source, s.vertex_length);
}

struct ShaderTest : kroTestFailureFixture {
  void SetUp() override {
    ASSERT_TRUE(kroTestOpenGL());
    kroTestFailureFixture::SetUp();
  }
  void TearDown() override {
    kroTestFailureFixture::TearDown();
    while (glGetError() != GL_NO_ERROR) {
    }
  }
};

TEST_F(ShaderTest, FileBytesFollowTheMacrosUnchanged) {
  std::string body("uniform float a;\r\n\tvoid main()\r\n{\t}\n\0\x80\xff", 40);
  std::string path = kroTestTempPath("bytes.vert");
  kroTestWriteFile(path, body);

  kroShader s = {};
  kroLoadVertexShaderFromFile(&s, path.c_str(), "#define A 1\n");
  EXPECT_EQ(vertexSource(s), "#define A 1\n" + body);
  // Without macros the file is appended to what the record holds.
  kroLoadVertexShaderFromFile(&s, path.c_str(), nullptr);
  EXPECT_EQ(vertexSource(s), "#define A 1\n" + body + body);

  kroLoadFragmentShaderFromFile(&s, path.c_str(), nullptr);
  EXPECT_EQ(std::string(s.fragment_source, s.fragment_length), body);

  std::string empty = kroTestTempPath("empty.frag");
  kroTestWriteFile(empty, "");
  kroShader e = {};
  kroLoadFragmentShaderFromFile(&e, empty.c_str(), nullptr);
  EXPECT_EQ(e.fragment_length, 0);
  kroLoadVertexShaderFromFile(&e, empty.c_str(), "#define B\n");
  EXPECT_EQ(vertexSource(e), "#define B\n");
  EXPECT_EQ(kroTestHookCalls, 0);
  kroDestroyShader(&s);
  kroDestroyShader(&e);
}

TEST_F(ShaderTest, GrowingByOneKeepsTheBytes) {
  kroShader s = {};
  kroLoadVertexShader(&s, "abc");
  EXPECT_EQ(s.vertex_length, 3);
  EXPECT_EQ(s.vertex_source[3], '\0'); // the copy keeps its terminator
  kroIncreaseVertexGLSL(&s);
  s.vertex_source[3] = 'd';
  EXPECT_EQ(vertexSource(s), "abcd");
  kroIncreaseFragmentGLSL(&s);
  EXPECT_EQ(s.fragment_length, 1);
  kroDestroyShader(&s);
  EXPECT_TRUE(s.vertex_source == nullptr && s.vertex_length == 0 && s.fragment_length == 0);
}

TEST_F(ShaderTest, BuildFromTextsAndRebuildInPlace) {
  kroShader s = {};
  kroCreateShaderVF(&s, kVertexText, kFragmentText);
  EXPECT_EQ(s.vertex_length, (int)strlen(kVertexText));
  EXPECT_STREQ(s.fragment_source, kFragmentText);
  ASSERT_TRUE(compiled(s.vertex_shader) && compiled(s.fragment_shader));
  EXPECT_TRUE(linked(s.program));
  GLhandleARB first_program = s.program, first_vertex = s.vertex_shader;

  kroCreateShaderVF(&s, kVertexText, kOtherFragmentText);
  EXPECT_TRUE(linked(s.program));
  EXPECT_NE(s.program, first_program);
  EXPECT_FALSE(glIsShader(first_vertex));  // detached and deleted
  EXPECT_TRUE(glIsProgram(first_program)); // the old program object stays
  EXPECT_STREQ(s.fragment_source, kOtherFragmentText);

  // One stage only: linked alone; the other stage keeps the values the
  // initial destroy left.
  GLhandleARB old_vertex = s.vertex_shader;
  kroCreateShaderVF(&s, nullptr, kFragmentText);
  EXPECT_TRUE(linked(s.program));
  EXPECT_EQ(s.vertex_source, nullptr);
  EXPECT_EQ(s.vertex_shader, old_vertex);
  GLint attached = 0;
  glGetObjectParameterivARB(s.program, GL_OBJECT_ATTACHED_OBJECTS_ARB, &attached);
  EXPECT_EQ(attached, 1);
  kroDestroyShader(&s);

  kroShader none = {};
  kroCreateShaderVF(&none, nullptr, nullptr);
  EXPECT_TRUE(isEmpty(none));
  // Destroying empty records asks GL for nothing, so it raises no GL error.
  while (glGetError() != GL_NO_ERROR) {
  }
  kroShader fresh = {};
  kroCreateShaderVF(&fresh, kVertexText, kFragmentText);
  kroDestroyShader(&none);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  kroDestroyShader(&fresh);
}

TEST_F(ShaderTest, BuildFromFilesKeepsOnlyHandles) {
  std::string vertex = kroTestTempPath("v.vert"), fragment = kroTestTempPath("f.frag");
  kroTestWriteFile(vertex, std::string(kVertexText) + "\r\n");
  kroTestWriteFile(fragment, std::string("#ifdef RED\n") + kFragmentText + "\n#endif\n");
  kroShader s = {};
  kroCreateShaderFromFileWithMacrosVF(&s, vertex.c_str(), fragment.c_str(), nullptr,
                                      "#define RED\n");
  EXPECT_TRUE(linked(s.program));
  EXPECT_EQ(sourceOf(s.vertex_shader), std::string(kVertexText) + "\r\n");
  EXPECT_EQ(sourceOf(s.fragment_shader).substr(0, 22), "#define RED\n#ifdef RED");
  EXPECT_TRUE(s.vertex_source == nullptr && s.fragment_source == nullptr);
  EXPECT_TRUE(s.vertex_length == 0 && s.fragment_length == 0);
  kroDestroyShader(&s);
  EXPECT_FALSE(glIsShader(s.vertex_shader));

  kroShader none = {};
  kroCreateShaderFromFileVF(&none, nullptr, nullptr);
  EXPECT_TRUE(isEmpty(none));
}

TEST_F(ShaderTest, InitBuildsTheFixedSetAndClearsTheHook) {
  kroInit(1200, 600);
  EXPECT_EQ(kroErrorFunc, nullptr);
  EXPECT_EQ(kroTestHookCalls, 0); // every shader file was found
  EXPECT_EQ(kroCurrentShader, 0);
  EXPECT_EQ(kroCurrentPostProcessShader, 0);
  EXPECT_EQ(KRO_TRUE_MASK[31], 0x80000000u);

  kroShader *fixed[] = {&KRO_SHADER[128], &KRO_SHADER[0], &KRO_SHADER[1], &KRO_SHADER[64],
                        &KRO_POST_PROCESS_SHADER[0]};
  for (kroShader *s : fixed) {
    SCOPED_TRACE(s - KRO_SHADER);
    EXPECT_TRUE(compiled(s->vertex_shader));
    EXPECT_TRUE(compiled(s->fragment_shader));
    EXPECT_TRUE(linked(s->program));
    EXPECT_EQ(s->vertex_source, nullptr);
  }
  std::string prelude = "#define CANVAS_RESX 1200\n#define CANVAS_RESY 600\n";
  EXPECT_EQ(sourceOf(KRO_POST_PROCESS_SHADER[0].vertex_shader),
            prelude + kroTestReadFile("sh/psh/b.vert"));
  EXPECT_EQ(sourceOf(KRO_POST_PROCESS_SHADER[0].fragment_shader),
            prelude + kroTestReadFile("sh/psh/b.frag"));
  EXPECT_EQ(sourceOf(KRO_SHADER[1].fragment_shader), kroTestReadFile("sh/ish/zki.frag"));

  kroShader before = KRO_SHADER[64];
  kroDestroy();
  EXPECT_EQ(memcmp(&before, &KRO_SHADER[64], sizeof before), 0);

  GLhandleARB program = KRO_SHADER[0].program, vertex = KRO_SHADER[0].vertex_shader;
  kroDestroyShaders();
  EXPECT_FALSE(glIsShader(vertex));
  EXPECT_TRUE(glIsProgram(program));
  EXPECT_TRUE(glIsShader(KRO_POST_PROCESS_SHADER[0].vertex_shader)); // not touched
}

TEST_F(ShaderTest, MissingFileLeavesTheRecordEmpty) {
  std::string good = kroTestTempPath("good.vert");
  kroTestWriteFile(good, kVertexText);
  for (bool with_hook : {true, false}) {
    kroTestUseCountingHook();
    if (!with_hook)
      kroSetErrorFunc(nullptr);
    kroShader s = {};
    testing::internal::CaptureStdout();
    kroCreateShaderFromFileVF(&s, "no/such.vert", nullptr);
    kroShader t = {};
    kroCreateShaderFromFileWithMacrosVF(&t, good.c_str(), "no/such.frag", "#define X\n",
                                        "#define Y\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error in reading vertex shader from no/such.vert\n"
              "Error in reading fragmant shader from no/such.frag\n");
    EXPECT_EQ(kroTestHookCalls, with_hook ? 2 : 0);
    EXPECT_TRUE(isEmpty(s));
    EXPECT_TRUE(isEmpty(t));
  }
}

TEST_F(ShaderTest, AllocationFailuresStopCleanly) {
  kroShader s = {};
  kroLoadVertexShader(&s, "abc");
  char *held = s.vertex_source;
  testing::internal::CaptureStdout();
  kroFailAllocationAfter(1);
  kroIncreaseVertexGLSL(&s);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error during allocating memory in kroIncreaseVertexGLSL(..)");
  EXPECT_EQ(s.vertex_length, 3);
  EXPECT_EQ(s.vertex_source, held);
  kroDestroyShader(&s);

  std::string path = kroTestTempPath("alloc.frag");
  kroTestWriteFile(path, kFragmentText);
  for (int n = 1; n <= 2; n++) { // the macro copy, then the read buffer
    kroShader f = {};
    testing::internal::CaptureStdout();
    kroFailAllocationAfter(n);
    kroCreateShaderFromFileWithMacrosVF(&f, nullptr, path.c_str(), nullptr, "#define Z\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error during allocating memory in kroLoadFragmentShaderFromFile(..)");
    EXPECT_TRUE(isEmpty(f));
  }

  kroShader t = {};
  testing::internal::CaptureStdout();
  kroFailAllocationAfter(1);
  kroCreateShaderVF(&t, kVertexText, kFragmentText);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error during allocating memory in kroLoadVertexShader(..)");
  EXPECT_TRUE(isEmpty(t));
  EXPECT_EQ(kroTestHookCalls, 4);
}

} // namespace
