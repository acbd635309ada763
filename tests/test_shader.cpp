// GL object records: shaders (exact source bytes, building and rebuilding, the fixed
// set and its folder, the message hook, every failure path) and framebuffer objects
// (each mode's attachments, completeness, rendering, sharing, deleting only what a
// record owns).
#include "gl_context.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

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

TEST_F(ShaderTest, BuildFromTextsAndRebuildInPlace) {
  kroShader s = {};
  kroCreateShaderVF(&s, kVertexText, kFragmentText); // destroying the empty record asks GL nothing
  EXPECT_EQ(s.vertex_length, (int)strlen(kVertexText));
  EXPECT_STREQ(s.fragment_source, kFragmentText);
  EXPECT_TRUE(built(s));
  GLhandleARB first_program = s.program, first_vertex = s.vertex_shader;

  kroCreateShaderVF(&s, kVertexText, "void main(){gl_FragColor=vec4(0.0);}");
  EXPECT_TRUE(linked(s.program));
  EXPECT_NE(s.program, first_program);
  EXPECT_FALSE(glIsShader(first_vertex));   // detached and deleted
  EXPECT_FALSE(glIsProgram(first_program)); // the replaced program is deleted too

  // One stage only: linked alone; the other keeps what the initial destroy left.
  GLhandleARB old_vertex = s.vertex_shader, second_program = s.program;
  kroCreateShaderVF(&s, nullptr, kFragmentText);
  EXPECT_TRUE(linked(s.program) && parameter(s.program, GL_OBJECT_ATTACHED_OBJECTS_ARB) == 1);
  EXPECT_TRUE(s.vertex_source == nullptr && s.vertex_shader == old_vertex);
  EXPECT_FALSE(glIsProgram(second_program));
  // No text: nothing replaces the program, which the record keeps.
  GLhandleARB kept = s.program;
  kroCreateShaderVF(&s, nullptr, nullptr);
  EXPECT_TRUE(s.program == kept && glIsProgram(kept));
  kroDestroyShader(&s);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR); // GL keeps an error until it is asked

  kroShader none = {};
  kroCreateShaderVF(&none, nullptr, nullptr);
  kroCreateShaderFromFileVF(&none, nullptr, nullptr);
  EXPECT_TRUE(isEmpty(none));
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
  const char *vertex = KRO_SOURCE_DIR "/sh/ish/b.vert", *fragment = KRO_SOURCE_DIR "/sh/ish/b.frag";
  kroShader grown = {}, failed[5] = {};
  kroLoadVertexShader(&grown, "abc");
  char *held = grown.vertex_source;
  std::string out = kroTestCaptured([&] {
    kroCreateShaderFromFileVF(&failed[0], "no/such.vert", nullptr);
    kroCreateShaderFromFileWithMacrosVF(&failed[1], vertex, "no/such.frag", "#define X\n",
                                        "#define Y\n");
    kroFailAllocationAfter(1);
    kroIncreaseVertexGLSL(&grown);
    // The macro copy and the read buffer of a file; the copy of a text.
    for (int allocation : {1, 2}) {
      kroFailAllocationAfter(allocation);
      kroCreateShaderFromFileWithMacrosVF(&failed[1 + allocation], nullptr, fragment, nullptr,
                                          "#define Z\n");
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
}

// Sources keep every byte of their files and texts. kroInit builds the engine's fixed set, four
// object shaders and the post-processing one, from the shader folder (from any working folder),
// and counts the programs it could not build.
TEST_F(ShaderTest, SourcesKeepEveryByteAndInitBuildsTheFixedSetFromTheShaderFolder) {
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

  // Through a pipe, whose size is not known: more than the first read's 4 KiB, grown as it comes;
  // a folder opens but reads nothing, and is refused keeping the source held.
  const std::string pipe = kroTestTempPath("shader.pipe"), big(10000, 'x');
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::thread writer([&] { kroTestWriteFile(pipe, big); });
  kroLoadFragmentShaderFromFile(&s, pipe.c_str(), "//\n");
  writer.join();
  EXPECT_TRUE(s.fragment_length == 10003 && std::string(s.fragment_source, 10003) == "//\n" + big);
  const std::string nothing = kroTestTempFolder("shader-folder");
  kroTestExpectReport([&] { kroLoadFragmentShaderFromFile(&s, nothing.c_str(), nullptr); },
                      "Error in reading fragmant shader from " + nothing + "\n");
  EXPECT_EQ(s.fragment_length, 10003);
  kroLoadFragmentShader(&s, "xyz"); // a text replaces what was held
  EXPECT_TRUE(s.fragment_length == 3 && !strcmp(s.fragment_source, "xyz"));
  kroDestroyShader(&s);
  kroTestHookCalls = 0;

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

  // kroInit builds the fixed set from the shader folder and counts what fails.
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  const std::string installed = std::string(cwd) + "/sh";
  ASSERT_EQ(chdir(kroTestTempPath("").c_str()), 0);
  std::vector<std::string> log;
  kroSetErrorMessageFunc(recordMessage, &log);

  // The default folder, relative to a working folder that has no sh/.
  EXPECT_STREQ(kroGetShaderFolder(), "sh");
  kroTestCaptured([] { kroInit(64, 64); });
  EXPECT_TRUE(log.size() == 6u && kroTestHookCalls == 6); // both hooks, for each file
  EXPECT_EQ(kroInitStatus(), KRO_INIT_PROGRAMS);          // not one file found
  EXPECT_EQ(log.front(), "message:Error in reading vertex shader from sh/ish/c.vert");
  EXPECT_EQ(log.back(), "message:Error in reading vertex shader from sh/psh/b.vert");
  kroDestroyShaders();

  // Built from files, a record keeps only the GL handles; the post-processing stages both
  // start with the canvas size.
  log.clear();
  ASSERT_EQ(kroSetShaderFolder(installed.c_str()), 0);
  kroCurrentShader = kroCurrentPostProcessShader = 1;
  EXPECT_EQ(kroTestCaptured([] { kroInit(320, 200); }), "");
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(kroInitStatus(), 0);
  EXPECT_TRUE(kroCurrentShader == 0 && kroCurrentPostProcessShader == 0);
  EXPECT_EQ(KRO_TRUE_MASK[31], 0x80000000u);
  for (kroShader *s : {&KRO_SHADER[128], &KRO_SHADER[0], &KRO_SHADER[1], &KRO_SHADER[64],
                       &KRO_SHADER[2], &KRO_POST_PROCESS_SHADER[0]}) {
    EXPECT_TRUE(built(*s)) << s - KRO_SHADER;
    EXPECT_TRUE(!s->vertex_source && !s->fragment_source && !s->vertex_length &&
                !s->fragment_length)
        << s - KRO_SHADER;
  }
  EXPECT_EQ(sourceOf(KRO_SHADER[64].vertex_shader), kroTestReadFile(installed + "/ish/bt.vert"));
  const std::string canvas = "#define CANVAS_RESX 320\n#define CANVAS_RESY 200\n";
  EXPECT_EQ(sourceOf(KRO_POST_PROCESS_SHADER[0].vertex_shader),
            canvas + kroTestReadFile(installed + "/psh/b.vert"));
  EXPECT_EQ(sourceOf(KRO_POST_PROCESS_SHADER[0].fragment_shader),
            canvas + kroTestReadFile(installed + "/psh/b.frag"));
  kroDestroyShaders();

  // A folder name one character too long is refused and the folder kept. kroInit has kept the
  // message hook and cleared the plain one.
  std::string too_long(KRO_SHADER_FOLDER_CHARS + 1, 'x');
  EXPECT_EQ(kroTestCaptured([&] { EXPECT_EQ(kroSetShaderFolder(too_long.c_str()), -1); }),
            "Error in kroSetShaderFolder(..): the folder name is longer than 4000 characters\n");
  EXPECT_TRUE(log.size() == 1u && kroTestHookCalls == 6);
  EXPECT_EQ(kroGetShaderFolder(), installed);
  EXPECT_EQ(kroSetShaderFolder(too_long.substr(1).c_str()), 0); // exactly the limit fits
  EXPECT_EQ(kroGetShaderFolder(), too_long.substr(1));
  EXPECT_EQ(kroSetShaderFolder(nullptr), 0); // null, and "" below, mean sh again
  EXPECT_STREQ(kroGetShaderFolder(), "sh");
  ASSERT_EQ(chdir(cwd), 0);

  // A program whose file is there but does not compile is counted as well, and
  // only it: the engine reports nothing of its own for it.
  std::string folder = kroTestShaderCopy("broken-sh");
  kroTestWriteFile(folder + "/ish/zki.frag", "void main() { this is not GLSL }\n");
  ASSERT_EQ(kroSetShaderFolder(folder.c_str()), 0);
  EXPECT_EQ(kroTestCaptured([] { kroInit(64, 64); }), "");
  EXPECT_EQ(kroInitStatus(), 1);
  EXPECT_FALSE(linked(KRO_SHADER[1].program));

  // kroDestroy releases nothing; kroDestroyShaders deletes the object shaders' stages but not
  // their programs, and leaves the post-processing one alone.
  kroShader before = KRO_SHADER[64];
  kroDestroy();
  EXPECT_EQ(memcmp(&before, &KRO_SHADER[64], sizeof before), 0);
  GLhandleARB program = KRO_SHADER[0].program, vertex = KRO_SHADER[0].vertex_shader;
  kroDestroyShaders(); // the empty slots ask GL nothing: no error below
  EXPECT_TRUE(!glIsShader(vertex) && glIsProgram(program));
  kroShader post = KRO_POST_PROCESS_SHADER[0];
  EXPECT_TRUE(glIsShader(post.vertex_shader));
  // Started again from the source tree's folder: each slot's program is replaced and deleted,
  // and the post-processing stages, never destroyed, go with theirs.
  kroSetShaderFolder("");
  kroInit(64, 64);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  EXPECT_EQ(kroInitStatus(), 0);
  EXPECT_TRUE(KRO_SHADER[0].program != program && !glIsProgram(program));
  EXPECT_FALSE(glIsProgram(post.program) || glIsShader(post.vertex_shader) ||
               glIsShader(post.fragment_shader));
  kroDestroyShaders();
}

// A destroyed record keeps its handles, naming objects that are gone or, once
// GL reuses names, someone else's. Destroying it again, rebuilding it from
// texts (which destroys first) or a build that fails hands none of them to GL:
// other objects given the freed names survive. So too when the record's program
// is gone (case 3, here the handle of a record rebuilt since): nothing vouches
// for its stage handles.
TEST_F(ShaderTest, DestroyedRecordsKeepTheirNamesAwayFromGL) {
  for (int rebuild = 0; rebuild < 4; rebuild++) {
    SCOPED_TRACE(rebuild);
    kroShader s = {}, rebuilt = {};
    kroCreateShaderVF(&s, kVertexText, kFragmentText);
    ASSERT_TRUE(linked(s.program));
    kroDestroyShader(&s);
    if (rebuild == 3) {
      rebuilt = s;
      kroCreateShaderVF(&rebuilt, kVertexText, nullptr);
      ASSERT_FALSE(glIsProgram(s.program));
    }
    ASSERT_TRUE(s.vertex_shader && s.fragment_shader);
    GLuint others[2] = {glCreateShader(GL_VERTEX_SHADER), glCreateShader(GL_FRAGMENT_SHADER)};
    kroDestroyShader(&s);
    kroTestCaptured([&] {
      if (rebuild == 0 || rebuild == 3)
        kroCreateShaderVF(&s, kVertexText, rebuild ? nullptr : kFragmentText);
      else // one stage's file missing, the other not asked for
        kroCreateShaderFromFileVF(&s, rebuild == 1 ? "no/such.vert" : nullptr,
                                  rebuild == 2 ? "no/such.frag" : nullptr);
    });
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    EXPECT_TRUE(rebuild % 3 ? isEmpty(s) : linked(s.program));
    EXPECT_TRUE(rebuild != 3 || linked(rebuilt.program)); // the record rebuilt since keeps its own
    for (GLuint other : others) {
      EXPECT_TRUE(glIsShader(other)) << other;
      glDeleteShader(other);
    }
    kroDestroyShader(&s);
    kroDestroyShader(&rebuilt);
  }
  EXPECT_EQ(kroTestHookCalls, 2);
}

struct FboTest : kroTestGLFailureFixture {
  void TearDown() override {
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    kroTestFailureFixture::TearDown();
  }
};

using Names = std::pair<GLint, GLint>; // colour texture, depth renderbuffer

// The names GL reports attached to a record's framebuffer (0: nothing attached).
Names attached(const kroFrameBufferObject &f) {
  Names names(-1, -1);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, f.frame_buffer);
  for (GLenum at : {GL_COLOR_ATTACHMENT0_EXT, GL_DEPTH_ATTACHMENT_EXT})
    glGetFramebufferAttachmentParameterivEXT(
        GL_FRAMEBUFFER_EXT, at, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_EXT,
        at == GL_DEPTH_ATTACHMENT_EXT ? &names.second : &names.first);
  return names;
}

// The names a record holds, 0 for a cell it has none of.
Names held(const kroFrameBufferObject &f) {
  return {f.color_buffer ? (GLint)*f.color_buffer : 0, f.depth_buffer ? (GLint)*f.depth_buffer : 0};
}

TEST_F(FboTest, EveryModeAttachesItsCellsAndRendersIncompleteOrFailedTargetsAreRefused) {
  kroFrameBufferObject fbo, borrower1, borrower3, depth_only, own, alone;
  int32_t size[2] = {256, 128};
  // Each record, the record it is given and its mode: modes 1 and 3 borrow both cells (a
  // borrowed attachment is checked like any other), modes 2, 5 and the like make depth only;
  // with a record given, they make both, and mode 1 with nothing to borrow from makes both.
  const std::tuple<kroFrameBufferObject *, kroFrameBufferObject *, int> made[] = {
      {&fbo, nullptr, 0},        {&borrower1, &fbo, 1},  {&borrower3, &fbo, 3},
      {&depth_only, nullptr, 5}, {&own, &depth_only, 2}, {&alone, nullptr, 1}};
  for (auto [f, shared, mode] : made) {
    EXPECT_EQ(kroCreateFrameBufferObject(f, size, shared, mode), 0) << mode;
    EXPECT_EQ(attached(*f), held(*f)) << mode;
  }
  ASSERT_TRUE(fbo.mode == 0 && fbo.color_buffer && fbo.depth_buffer);
  for (kroFrameBufferObject *b : {&borrower1, &borrower3})
    EXPECT_TRUE(b->color_buffer == fbo.color_buffer && b->depth_buffer == fbo.depth_buffer &&
                b->frame_buffer != fbo.frame_buffer);
  ASSERT_TRUE(!depth_only.color_buffer && depth_only.depth_buffer && own.color_buffer &&
              own.depth_buffer && own.depth_buffer != depth_only.depth_buffer &&
              alone.color_buffer && alone.depth_buffer);

  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  kroUseFrameBufferObject(&fbo);
  GLint viewport[4], texture = -1, bound = -1;
  glGetIntegerv(GL_VIEWPORT, viewport);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
  glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &bound);
  EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 256, 128}));
  EXPECT_TRUE(texture == 0 && bound == (GLint)fbo.frame_buffer) << texture << " " << bound;
  // The colour texture is 256 wide and 128 high: a clear reaches pixel (200, 100).
  glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  GLubyte pixel[4] = {};
  glReadPixels(200, 100, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_TRUE(pixel[0] == 0 && pixel[1] == 255);

  GLuint colour = *fbo.color_buffer, depth = *fbo.depth_buffer, frame = borrower1.frame_buffer,
         depth2 = *depth_only.depth_buffer;
  kroDestroyFrameBufferObject(&borrower1, 0);
  kroDestroyFrameBufferObject(&borrower3, 0);
  EXPECT_FALSE(glIsFramebufferEXT(frame));
  EXPECT_TRUE(glIsTexture(colour) && glIsRenderbufferEXT(depth)); // still the owner's
  kroDestroyFrameBufferObject(&depth_only, 2);
  kroDestroyFrameBufferObject(&own, 3);
  kroDestroyFrameBufferObject(&alone, 3);
  frame = fbo.frame_buffer;
  kroDestroyFrameBufferObject(&fbo, 3);
  EXPECT_FALSE(glIsTexture(colour) || glIsRenderbufferEXT(depth) || glIsFramebufferEXT(frame) ||
               glIsRenderbufferEXT(depth2));
  EXPECT_EQ(fbo.mode, 0);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  EXPECT_EQ(kroTestHookCalls, 0);

  // Zero-sized images: both attachments incomplete (3); with depth only, colour counts complete.
  int32_t nothing[2] = {0, 0};
  EXPECT_EQ(kroCreateFrameBufferObject(&alone, nothing, nullptr, 0), 3);
  EXPECT_NE(alone.color_buffer, nullptr);
  kroDestroyFrameBufferObject(&alone, 3);
  EXPECT_EQ(kroCreateFrameBufferObject(&depth_only, nothing, nullptr, 2), 2);
  kroDestroyFrameBufferObject(&depth_only, 2);
  glGetError();
  // Refused, with nothing left made or bound and the record empty: a cell that cannot be
  // allocated, and borrowing (modes 1 and 3 own nothing) from a record made with mode 2 alone,
  // which has no colour cell to lend.
  ASSERT_EQ(kroCreateFrameBufferObject(&depth_only, size, nullptr, 2), 0);
  const std::string in = " in kroCreateFameBufferObject(..)",
                    lend = "Error" + in +
                           ": the shared framebuffer object has no color buffer to lend\n";
  const std::tuple<int, long, std::string> refusals[] = {
      {0, 1, "Error during allocating memory for color_buffer" + in},
      {0, 2, "Error during allocating memory for depth_buffer" + in},
      {1, 0, lend},
      {3, 0, lend}};
  for (const auto &[mode, fail, message] : refusals) {
    SCOPED_TRACE(message);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    kroTestExpectReport(
        [&] { EXPECT_EQ(kroCreateFrameBufferObject(&fbo, size, &depth_only, mode), -1); }, message,
        fail);
    EXPECT_TRUE(fbo.frame_buffer == 0 && !fbo.color_buffer && !fbo.depth_buffer && fbo.mode == 0);
    GLint bound = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &bound);
    EXPECT_EQ(bound, 0);
  }
  EXPECT_EQ(attached(depth_only), Names(0, (GLint)*depth_only.depth_buffer));
  kroDestroyFrameBufferObject(&depth_only, 2);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

} // namespace
