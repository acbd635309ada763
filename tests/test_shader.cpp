// Shader records: exact bytes of file-loaded sources, building and rebuilding
// programs, the engine's fixed shader set, and every failure path.
#include "gl_context.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

const char *kVertexText = "void main(){gl_Position=gl_ModelViewProjectionMatrix*gl_Vertex;}";
const char *kFragmentText = "void main(){gl_FragColor=vec4(1.0,0.5,0.0,1.0);}";

bool status(GLhandleARB object, GLenum which) {
  GLint value = 0;
  glGetObjectParameterivARB(object, which, &value);
  return value == GL_TRUE;
}
bool linked(GLhandleARB program) {
  return status(program, GL_OBJECT_LINK_STATUS_ARB);
}
bool compiled(GLhandleARB shader) {
  return status(shader, GL_OBJECT_COMPILE_STATUS_ARB);
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

TEST_F(ShaderTest, SourcesKeepEveryByte) {
  std::string body("uniform float a;\r\n\tvoid main()\r\n{\t}\n\0\x80\xff", 40);
  std::string path = kroTestTempPath("bytes.vert"), empty = kroTestTempPath("empty.frag");
  kroTestWriteFile(path, body);
  kroTestWriteFile(empty, "");
  kroShader s = {};
  kroLoadVertexShaderFromFile(&s, path.c_str(), "#define A 1\n");
  EXPECT_EQ(vertexSource(s), "#define A 1\n" + body);
  kroLoadVertexShaderFromFile(&s, path.c_str(), nullptr); // appended to what is held
  EXPECT_EQ(vertexSource(s), "#define A 1\n" + body + body);
  kroLoadFragmentShaderFromFile(&s, empty.c_str(), nullptr);
  EXPECT_EQ(s.fragment_length, 0);
  kroDestroyShader(&s);
  kroLoadVertexShaderFromFile(&s, empty.c_str(), "#define B\n");
  EXPECT_EQ(vertexSource(s), "#define B\n");
  kroDestroyShader(&s);

  kroLoadVertexShader(&s, "abc");
  EXPECT_EQ(s.vertex_source[3], '\0'); // a text copy keeps its terminator, uncounted
  kroIncreaseVertexGLSL(&s);
  s.vertex_source[3] = 'd';
  EXPECT_EQ(vertexSource(s), "abcd");
  kroIncreaseFragmentGLSL(&s);
  EXPECT_EQ(s.fragment_length, 1);
  kroDestroyShader(&s);
  EXPECT_TRUE(s.vertex_source == nullptr && s.vertex_length == 0 && s.fragment_length == 0);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(ShaderTest, BuildFromTextsAndRebuildInPlace) {
  kroShader s = {};
  kroCreateShaderVF(&s, kVertexText, kFragmentText);
  EXPECT_EQ(glGetError(),
            (GLenum)GL_NO_ERROR); // the initial destroy of an empty record asks GL nothing
  EXPECT_EQ(s.vertex_length, (int)strlen(kVertexText));
  EXPECT_STREQ(s.fragment_source, kFragmentText);
  EXPECT_TRUE(compiled(s.vertex_shader) && compiled(s.fragment_shader) && linked(s.program));
  GLhandleARB first_program = s.program, first_vertex = s.vertex_shader;

  kroCreateShaderVF(&s, kVertexText, "void main(){gl_FragColor=vec4(0.0);}");
  EXPECT_TRUE(linked(s.program));
  EXPECT_NE(s.program, first_program);
  EXPECT_FALSE(glIsShader(first_vertex));  // detached and deleted
  EXPECT_TRUE(glIsProgram(first_program)); // the old program object stays

  // One stage only: linked alone; the other keeps what the initial destroy left.
  GLhandleARB old_vertex = s.vertex_shader;
  kroCreateShaderVF(&s, nullptr, kFragmentText);
  GLint attached = 0;
  glGetObjectParameterivARB(s.program, GL_OBJECT_ATTACHED_OBJECTS_ARB, &attached);
  EXPECT_TRUE(linked(s.program) && attached == 1);
  EXPECT_TRUE(s.vertex_source == nullptr && s.vertex_shader == old_vertex);
  kroDestroyShader(&s);

  kroShader none = {};
  kroCreateShaderVF(&none, nullptr, nullptr);
  kroCreateShaderFromFileVF(&none, nullptr, nullptr);
  EXPECT_TRUE(isEmpty(none));
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
}

TEST_F(ShaderTest, InitBuildsTheFixedSetAndClearsTheHook) {
  kroInit(1200, 600);
  EXPECT_EQ(kroErrorFunc, nullptr);
  EXPECT_EQ(kroTestHookCalls, 0); // every shader file was found
  EXPECT_TRUE(kroCurrentShader == 0 && kroCurrentPostProcessShader == 0);
  EXPECT_EQ(KRO_TRUE_MASK[31], 0x80000000u);
  for (kroShader *s : {&KRO_SHADER[128], &KRO_SHADER[0], &KRO_SHADER[1], &KRO_SHADER[64],
                       &KRO_POST_PROCESS_SHADER[0]}) {
    SCOPED_TRACE(s - KRO_SHADER);
    EXPECT_TRUE(compiled(s->vertex_shader) && compiled(s->fragment_shader) && linked(s->program));
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
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR); // 508 empty slots ask GL nothing
  EXPECT_FALSE(glIsShader(vertex));
  EXPECT_TRUE(glIsProgram(program));
  EXPECT_TRUE(glIsShader(KRO_POST_PROCESS_SHADER[0].vertex_shader)); // not touched
}

TEST_F(ShaderTest, FailuresReportAndLeaveNothingHalfBuilt) {
  std::string good = kroTestTempPath("good.vert");
  kroTestWriteFile(good, kVertexText);
  for (bool with_hook : {true, false}) {
    kroTestUseCountingHook();
    if (!with_hook)
      kroSetErrorFunc(nullptr);
    kroShader s = {}, t = {};
    testing::internal::CaptureStdout();
    kroCreateShaderFromFileVF(&s, "no/such.vert", nullptr);
    kroCreateShaderFromFileWithMacrosVF(&t, good.c_str(), "no/such.frag", "#define X\n",
                                        "#define Y\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error in reading vertex shader from no/such.vert\n"
              "Error in reading fragmant shader from no/such.frag\n");
    EXPECT_EQ(kroTestHookCalls, with_hook ? 2 : 0);
    EXPECT_TRUE(isEmpty(s) && isEmpty(t));
  }

  kroTestUseCountingHook();
  kroShader s = {};
  kroLoadVertexShader(&s, "abc");
  char *held = s.vertex_source;
  testing::internal::CaptureStdout();
  kroFailAllocationAfter(1);
  kroIncreaseVertexGLSL(&s);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error during allocating memory in kroIncreaseVertexGLSL(..)");
  EXPECT_TRUE(s.vertex_length == 3 && s.vertex_source == held);
  kroDestroyShader(&s);

  kroTestWriteFile(good, kFragmentText);
  struct {
    int allocation;
    const char *message;
    bool from_text;
  } cases[] = {{1, "Error during allocating memory in kroLoadFragmentShaderFromFile(..)",
                false}, // macro copy
               {2, "Error during allocating memory in kroLoadFragmentShaderFromFile(..)",
                false}, // read buffer
               {1, "Error during allocating memory in kroLoadVertexShader(..)", true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message + std::to_string(c.allocation));
    kroShader f = {};
    testing::internal::CaptureStdout();
    kroFailAllocationAfter(c.allocation);
    if (c.from_text)
      kroCreateShaderVF(&f, kVertexText, kFragmentText);
    else
      kroCreateShaderFromFileWithMacrosVF(&f, nullptr, good.c_str(), nullptr, "#define Z\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    EXPECT_TRUE(isEmpty(f));
  }
  EXPECT_EQ(kroTestHookCalls, 4);
}

// A failed build deletes only what it made: the handles a destroyed record
// keeps name objects that are gone (or, once GL reuses names, someone else's).
TEST_F(ShaderTest, FailedRebuildOfADestroyedRecordTouchesNoStaleHandle) {
  std::string vertex = kroTestTempPath("r.vert"), fragment = kroTestTempPath("r.frag");
  kroTestWriteFile(vertex, kVertexText);
  kroTestWriteFile(fragment, kFragmentText);
  for (int missing = 0; missing < 2; missing++) {
    SCOPED_TRACE(missing ? "fragment missing" : "vertex missing");
    kroShader s = {};
    kroCreateShaderFromFileVF(&s, vertex.c_str(), fragment.c_str());
    ASSERT_TRUE(linked(s.program));
    kroDestroyShader(&s);
    ASSERT_TRUE(s.vertex_shader && s.fragment_shader);
    ASSERT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    testing::internal::CaptureStdout();
    kroCreateShaderFromFileVF(&s, missing ? nullptr : "no/such.vert",
                              missing ? "no/such.frag" : nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    EXPECT_TRUE(isEmpty(s));
  }
  EXPECT_EQ(kroTestHookCalls, 2);
}

} // namespace
