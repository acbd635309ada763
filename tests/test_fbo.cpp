// Framebuffer objects on a real context: every mode's attachments as GL reports them, truthful
// completeness, rendering into a target, sharing and the deletion of owned attachments only.
#include "gl_context.h"

#include <string>
#include <vector>

namespace {

struct FboTest : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(kroTestOpenGL());
    kroFailAllocationAfter(0);
    kroTestUseCountingHook();
  }
  void TearDown() override {
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    kroFailAllocationAfter(0);
    kroSetErrorFunc(nullptr);
  }
};

// What GL reports about one attachment of a framebuffer: its type or its object name.
GLint attachment(GLuint frame_buffer, GLenum attachment,
                 GLenum what = GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_EXT) {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, frame_buffer);
  GLint value = -1;
  glGetFramebufferAttachmentParameterivEXT(GL_FRAMEBUFFER_EXT, attachment, what, &value);
  return value;
}
GLint colourName(const kroFrameBufferObject &f) {
  return attachment(f.frame_buffer, GL_COLOR_ATTACHMENT0_EXT);
}
GLint depthName(const kroFrameBufferObject &f) {
  return attachment(f.frame_buffer, GL_DEPTH_ATTACHMENT_EXT);
}

TEST_F(FboTest, ModeZeroMakesBothAttachmentsAndRendersIntoThem) {
  kroFrameBufferObject fbo;
  int32_t size[2] = {256, 256};
  EXPECT_EQ(kroCreateFrameBufferObject(&fbo, size, nullptr, 0), 0);
  EXPECT_EQ(fbo.mode, 0);
  ASSERT_TRUE(fbo.color_buffer && fbo.depth_buffer);
  EXPECT_EQ(colourName(fbo), (GLint)*fbo.color_buffer);
  EXPECT_EQ(depthName(fbo), (GLint)*fbo.depth_buffer);

  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  kroUseFrameBufferObject(&fbo);
  GLint viewport[4], texture = -1, bound = -1;
  glGetIntegerv(GL_VIEWPORT, viewport);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
  glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &bound);
  EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 256, 256}));
  EXPECT_TRUE(texture == 0 && bound == (GLint)fbo.frame_buffer) << texture << " " << bound;
  // The colour texture is 256 wide: a clear reaches pixel (200, 200).
  glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  GLubyte pixel[4] = {};
  glReadPixels(200, 200, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_TRUE(pixel[0] == 0 && pixel[1] == 255);

  GLuint colour = *fbo.color_buffer, depth = *fbo.depth_buffer, frame = fbo.frame_buffer;
  kroDestroyFrameBufferObject(&fbo, 3);
  EXPECT_FALSE(glIsTexture(colour) || glIsRenderbufferEXT(depth) || glIsFramebufferEXT(frame));
  EXPECT_EQ(fbo.mode, 0);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(FboTest, BorrowingModesShareTheCellsAndReportComplete) {
  kroFrameBufferObject owner, borrower1, borrower3;
  int32_t size[2] = {64, 32};
  ASSERT_EQ(kroCreateFrameBufferObject(&owner, size, nullptr, 0), 0);
  // A borrowed attachment gets checked like any other: complete is 0.
  EXPECT_EQ(kroCreateFrameBufferObject(&borrower1, size, &owner, 1), 0);
  EXPECT_EQ(kroCreateFrameBufferObject(&borrower3, size, &owner, 3), 0);
  for (kroFrameBufferObject *b : {&borrower1, &borrower3}) {
    EXPECT_TRUE(b->color_buffer == owner.color_buffer && b->depth_buffer == owner.depth_buffer);
    EXPECT_NE(b->frame_buffer, owner.frame_buffer);
    EXPECT_EQ(colourName(*b), (GLint)*owner.color_buffer);
    EXPECT_EQ(depthName(*b), (GLint)*owner.depth_buffer);
  }
  GLuint frame = borrower1.frame_buffer;
  kroDestroyFrameBufferObject(&borrower1, 0);
  kroDestroyFrameBufferObject(&borrower3, 0);
  EXPECT_FALSE(glIsFramebufferEXT(frame));
  EXPECT_TRUE(glIsTexture(*owner.color_buffer) && glIsRenderbufferEXT(*owner.depth_buffer));
  kroDestroyFrameBufferObject(&owner, 3);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(FboTest, OtherModesWithAndWithoutShared) {
  int32_t size[2] = {32, 32};
  kroFrameBufferObject depth_only, own, alone;
  EXPECT_EQ(kroCreateFrameBufferObject(&depth_only, size, nullptr, 2), 0);
  ASSERT_TRUE(depth_only.color_buffer == nullptr && depth_only.depth_buffer != nullptr);
  EXPECT_EQ(attachment(depth_only.frame_buffer, GL_COLOR_ATTACHMENT0_EXT,
                       GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT),
            GL_NONE);
  EXPECT_EQ(depthName(depth_only), (GLint)*depth_only.depth_buffer);
  EXPECT_EQ(glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT), (GLenum)GL_FRAMEBUFFER_COMPLETE_EXT);
  // With a record given, modes other than 0, 1 and 3 still make their own.
  EXPECT_EQ(kroCreateFrameBufferObject(&own, size, &depth_only, 5), 0);
  ASSERT_TRUE(own.color_buffer && own.depth_buffer != depth_only.depth_buffer);
  EXPECT_EQ(colourName(own), (GLint)*own.color_buffer);
  // Mode 1 with nothing to borrow from makes both.
  EXPECT_EQ(kroCreateFrameBufferObject(&alone, size, nullptr, 1), 0);
  ASSERT_TRUE(alone.color_buffer && alone.depth_buffer);
  EXPECT_EQ(depthName(alone), (GLint)*alone.depth_buffer);

  GLuint depth = *depth_only.depth_buffer;
  kroDestroyFrameBufferObject(&depth_only, 2);
  EXPECT_FALSE(glIsRenderbufferEXT(depth));
  kroDestroyFrameBufferObject(&own, 3);
  kroDestroyFrameBufferObject(&alone, 3);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(FboTest, IncompleteTargetsAndFailedCellAllocations) {
  // Zero-sized images make both attachments incomplete; with only the depth buffer, colour was
  // checked complete before it came.
  kroFrameBufferObject empty, depth_only, fbo;
  int32_t nothing[2] = {0, 0}, size[2] = {16, 16};
  EXPECT_EQ(kroCreateFrameBufferObject(&empty, nothing, nullptr, 0), 3);
  EXPECT_NE(empty.color_buffer, nullptr);
  kroDestroyFrameBufferObject(&empty, 3);
  EXPECT_EQ(kroCreateFrameBufferObject(&depth_only, nothing, nullptr, 2), 2);
  kroDestroyFrameBufferObject(&depth_only, 2);
  glGetError();

  for (const char *cell : {"color_buffer", "depth_buffer"}) {
    kroFailAllocationAfter(cell[0] == 'c' ? 1 : 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(kroCreateFrameBufferObject(&fbo, size, nullptr, 0), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("Error during allocating memory for ") + cell +
                  " in kroCreateFameBufferObject(..)");
    EXPECT_TRUE(fbo.frame_buffer == 0 && !fbo.color_buffer && !fbo.depth_buffer && fbo.mode == 0);
  }
  EXPECT_EQ(kroTestHookCalls, 2);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

} // namespace
