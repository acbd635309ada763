// Shader records: exact bytes of file-loaded sources, building and rebuilding
// programs, the engine's fixed shader set and the folder it is read from, the
// message hook, and every failure path.
#include "gl_context.h"

#include <string.h>
#include <unistd.h>

namespace {

const char *kVertexText = "void main(){gl_Position=gl_ModelViewProjectionMatrix*gl_Vertex;}";
const char *kFragmentText = "void main(){gl_FragColor=vec4(1.0,0.5,0.0,1.0);}";

GLint parameter(GLhandleARB object, GLenum which) {
  GLint value = 0;
  glGetObjectParameterivARB(object, which, &value);
  return value;
}
bool linked(GLhandleARB program) {
  return parameter(program, GL_OBJECT_LINK_STATUS_ARB) == GL_TRUE;
}
// Both stages compiled and the program linked.
bool built(const kroShader &s) {
  return parameter(s.vertex_shader, GL_OBJECT_COMPILE_STATUS_ARB) == GL_TRUE &&
         parameter(s.fragment_shader, GL_OBJECT_COMPILE_STATUS_ARB) == GL_TRUE && linked(s.program);
}
// The engine's fixed set as the tests look at it, four object shaders and the
// post-processing one: built from files, which keeps only the GL handles.
void expectFixedSetBuilt() {
  for (kroShader *s : {&KRO_SHADER[128], &KRO_SHADER[0], &KRO_SHADER[1], &KRO_SHADER[64],
                       &KRO_POST_PROCESS_SHADER[0]}) {
    EXPECT_TRUE(built(*s)) << s - KRO_SHADER;
    EXPECT_TRUE(!s->vertex_source && !s->fragment_source && !s->vertex_length &&
                !s->fragment_length)
        << s - KRO_SHADER;
  }
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

struct ShaderTest : kroTestGLFailureFixture {
  void TearDown() override {
    kroTestFailureFixture::TearDown();
    kroSetErrorMessageFunc(nullptr, nullptr);
    kroSetShaderFolder(nullptr);
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
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR); // destroying the empty record asks GL nothing
  EXPECT_EQ(s.vertex_length, (int)strlen(kVertexText));
  EXPECT_STREQ(s.fragment_source, kFragmentText);
  EXPECT_TRUE(built(s));
  GLhandleARB first_program = s.program, first_vertex = s.vertex_shader;

  kroCreateShaderVF(&s, kVertexText, "void main(){gl_FragColor=vec4(0.0);}");
  EXPECT_TRUE(linked(s.program));
  EXPECT_NE(s.program, first_program);
  EXPECT_FALSE(glIsShader(first_vertex));  // detached and deleted
  EXPECT_TRUE(glIsProgram(first_program)); // the old program object stays

  // One stage only: linked alone; the other keeps what the initial destroy left.
  GLhandleARB old_vertex = s.vertex_shader;
  kroCreateShaderVF(&s, nullptr, kFragmentText);
  EXPECT_TRUE(linked(s.program) && parameter(s.program, GL_OBJECT_ATTACHED_OBJECTS_ARB) == 1);
  EXPECT_TRUE(s.vertex_source == nullptr && s.vertex_shader == old_vertex);
  kroDestroyShader(&s);

  kroShader none = {};
  kroCreateShaderVF(&none, nullptr, nullptr);
  kroCreateShaderFromFileVF(&none, nullptr, nullptr);
  EXPECT_TRUE(isEmpty(none));
}

TEST_F(ShaderTest, InitBuildsTheFixedSetAndClearsTheHook) {
  kroInit(1200, 600);
  EXPECT_EQ(kroErrorFunc, nullptr);
  EXPECT_EQ(kroTestHookCalls, 0); // every shader file was found
  EXPECT_TRUE(kroCurrentShader == 0 && kroCurrentPostProcessShader == 0);
  EXPECT_EQ(KRO_TRUE_MASK[31], 0x80000000u);
  std::string prelude = "#define CANVAS_RESX 1200\n#define CANVAS_RESY 600\n";
  EXPECT_EQ(sourceOf(KRO_POST_PROCESS_SHADER[0].vertex_shader),
            prelude + kroTestReadFile("sh/psh/b.vert"));

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

// Records every message hook call and, through the plain hook, where it fell.
std::vector<std::string> *gHookLog = nullptr;
void recordMessage(const char *message, void *user) {
  static_cast<std::vector<std::string> *>(user)->push_back(std::string("message:") + message);
}
void recordPlain(void) {
  gHookLog->push_back("plain");
}

// Each failure prints its message and gives it, without the line end, to the
// message hook before the plain hook runs; a failed build leaves an empty
// record, a failed growth the record as it was.
TEST_F(ShaderTest, FailuresReportThroughBothHooksAndLeaveNothingHalfBuilt) {
  std::vector<std::string> log;
  gHookLog = &log;
  kroSetErrorMessageFunc(recordMessage, &log);
  kroSetErrorFunc(recordPlain);
  std::string vertex = kroTestTempPath("good.vert"), fragment = kroTestTempPath("good.frag");
  kroTestWriteFile(vertex, kVertexText);
  kroTestWriteFile(fragment, kFragmentText);
  kroShader grown = {}, failed[5] = {};
  kroLoadVertexShader(&grown, "abc");
  char *held = grown.vertex_source;
  std::string out = kroTestCaptured([&] {
    kroCreateShaderFromFileVF(&failed[0], "no/such.vert", nullptr);
    kroCreateShaderFromFileWithMacrosVF(&failed[1], vertex.c_str(), "no/such.frag", "#define X\n",
                                        "#define Y\n");
    kroFailAllocationAfter(1);
    kroIncreaseVertexGLSL(&grown);
    // The macro copy and the read buffer of a file; the copy of a text.
    for (int allocation : {1, 2}) {
      kroFailAllocationAfter(allocation);
      kroCreateShaderFromFileWithMacrosVF(&failed[1 + allocation], nullptr, fragment.c_str(),
                                          nullptr, "#define Z\n");
    }
    kroFailAllocationAfter(1);
    kroCreateShaderVF(&failed[4], kVertexText, kFragmentText);
  });
  const std::string oom = "Error during allocating memory in kro";
  const std::vector<std::string> messages = {"Error in reading vertex shader from no/such.vert\n",
                                             "Error in reading fragmant shader from no/such.frag\n",
                                             oom + "IncreaseVertexGLSL(..)",
                                             oom + "LoadFragmentShaderFromFile(..)",
                                             oom + "LoadFragmentShaderFromFile(..)",
                                             oom + "LoadVertexShader(..)"};
  std::vector<std::string> calls;
  std::string printed;
  for (const std::string &m : messages) {
    printed += m;
    calls.insert(calls.end(), {"message:" + m.substr(0, m.find('\n')), "plain"});
  }
  EXPECT_EQ(out, printed);
  EXPECT_EQ(log, calls);
  for (const kroShader &f : failed)
    EXPECT_TRUE(isEmpty(f)) << &f - failed;
  EXPECT_TRUE(grown.vertex_length == 3 && grown.vertex_source == held);
  kroDestroyShader(&grown);

  // kroInit clears the plain hook but keeps the message hook; a null one is not called.
  kroInit(64, 64);
  log.clear();
  kroTestCaptured([&] { kroCreateShaderFromFileVF(&failed[0], nullptr, "no/such.frag"); });
  EXPECT_EQ(log,
            std::vector<std::string>{"message:Error in reading fragmant shader from no/such.frag"});
  kroSetErrorMessageFunc(nullptr, &log);
  EXPECT_NE(
      kroTestCaptured([&] { kroCreateShaderFromFileVF(&failed[0], "no/such.vert", nullptr); }), "");
  EXPECT_TRUE(log.size() == 1 && isEmpty(failed[0]));
  kroDestroyShaders();
}

TEST_F(ShaderTest, FixedSetIsReadFromTheShaderFolderFromAnyWorkingFolder) {
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  const std::string installed = std::string(cwd) + "/sh";
  ASSERT_EQ(chdir(kroTestTempPath("").c_str()), 0);
  std::vector<std::string> log;
  kroSetErrorMessageFunc(recordMessage, &log);

  // The default folder, relative to a working folder that has no sh/.
  EXPECT_STREQ(kroGetShaderFolder(), "sh");
  kroTestCaptured([] { kroInit(64, 64); });
  EXPECT_EQ(log.size(), 5u);
  EXPECT_EQ(log.front(), "message:Error in reading vertex shader from sh/ish/c.vert");
  EXPECT_EQ(log.back(), "message:Error in reading vertex shader from sh/psh/b.vert");
  kroDestroyShaders();

  log.clear();
  ASSERT_EQ(kroSetShaderFolder(installed.c_str()), 0);
  EXPECT_EQ(kroGetShaderFolder(), installed);
  EXPECT_EQ(kroTestCaptured([] { kroInit(320, 200); }), "");
  EXPECT_TRUE(log.empty());
  expectFixedSetBuilt();
  EXPECT_EQ(sourceOf(KRO_SHADER[64].vertex_shader), kroTestReadFile(installed + "/ish/bt.vert"));
  EXPECT_EQ(sourceOf(KRO_POST_PROCESS_SHADER[0].fragment_shader),
            "#define CANVAS_RESX 320\n#define CANVAS_RESY 200\n" +
                kroTestReadFile(installed + "/psh/b.frag"));
  kroDestroyShaders();

  // A folder name one character too long is refused and the folder kept.
  std::string too_long(KRO_SHADER_FOLDER_CHARS + 1, 'x');
  EXPECT_EQ(kroTestCaptured([&] { EXPECT_EQ(kroSetShaderFolder(too_long.c_str()), -1); }),
            "Error in kroSetShaderFolder(..): the folder name is longer than 4000 characters\n");
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(kroGetShaderFolder(), installed);
  EXPECT_EQ(kroSetShaderFolder(too_long.substr(1).c_str()), 0); // exactly the limit fits
  EXPECT_EQ(kroGetShaderFolder(), too_long.substr(1));

  for (const char *reset : {(const char *)nullptr, ""}) {
    ASSERT_EQ(kroSetShaderFolder(installed.c_str()), 0);
    EXPECT_EQ(kroSetShaderFolder(reset), 0);
    EXPECT_STREQ(kroGetShaderFolder(), "sh");
  }
  kroSetErrorMessageFunc(nullptr, nullptr);
  ASSERT_EQ(chdir(cwd), 0);
}

// A destroyed record keeps its handles, naming objects that are gone or, once
// GL reuses names, someone else's. Destroying it again, rebuilding it from
// texts (which destroys first) or a build that fails hands none of them to GL:
// other objects given the freed names survive.
TEST_F(ShaderTest, DestroyedRecordsKeepTheirNamesAwayFromGL) {
  for (int rebuild = 0; rebuild < 3; rebuild++) {
    SCOPED_TRACE(rebuild);
    kroShader s = {};
    kroCreateShaderVF(&s, kVertexText, kFragmentText);
    ASSERT_TRUE(linked(s.program));
    kroDestroyShader(&s);
    ASSERT_TRUE(s.vertex_shader && s.fragment_shader);
    GLuint others[2] = {glCreateShader(GL_VERTEX_SHADER), glCreateShader(GL_FRAGMENT_SHADER)};
    kroDestroyShader(&s);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    kroTestCaptured([&] {
      if (rebuild == 0)
        kroCreateShaderVF(&s, kVertexText, kFragmentText);
      else // one stage's file missing, the other not asked for
        kroCreateShaderFromFileVF(&s, rebuild == 1 ? "no/such.vert" : nullptr,
                                  rebuild == 2 ? "no/such.frag" : nullptr);
    });
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    EXPECT_TRUE(rebuild ? isEmpty(s) : linked(s.program));
    for (GLuint other : others) {
      EXPECT_TRUE(glIsShader(other)) << other;
      glDeleteShader(other);
    }
    kroDestroyShader(&s);
  }
  EXPECT_EQ(kroTestHookCalls, 2);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

} // namespace
