// Framebuffer objects on a real context: every mode's attachments as GL
// reports them, truthful completeness, rendering into a target, sharing and
// the deletion of owned attachments only.
#include "gl_context.h"
#include "kro_internal.h"

#include <gtest/gtest.h>

#include <string>

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

GLint attachmentType(GLuint frame_buffer, GLenum attachment) {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, frame_buffer);
  GLint type = -1;
  glGetFramebufferAttachmentParameterivEXT(GL_FRAMEBUFFER_EXT, attachment,
                                           GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_EXT, &type);
  return type;
}

GLint attachmentName(GLuint frame_buffer, GLenum attachment) {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, frame_buffer);
  GLint name = -1;
  glGetFramebufferAttachmentParameterivEXT(GL_FRAMEBUFFER_EXT, attachment,
                                           GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_EXT, &name);
  return name;
}

TEST_F(FboTest, ModeZeroMakesBothAttachmentsAndRendersIntoThem) {
  kroFrameBufferObject fbo;
  int32_t size[2] = {256, 256};
  EXPECT_EQ(kroCreateFrameBufferObject(&fbo, size, nullptr, 0), 0);
  EXPECT_EQ(fbo.width, 256);
  EXPECT_EQ(fbo.height, 256);
  EXPECT_EQ(fbo.mode, 0);
  ASSERT_NE(fbo.color_buffer, nullptr);
  ASSERT_NE(fbo.depth_buffer, nullptr);
  EXPECT_TRUE(glIsTexture(*fbo.color_buffer));
  EXPECT_TRUE(glIsRenderbufferEXT(*fbo.depth_buffer));
  EXPECT_EQ(attachmentName(fbo.frame_buffer, GL_COLOR_ATTACHMENT0_EXT), (GLint)*fbo.color_buffer);
  EXPECT_EQ(attachmentName(fbo.frame_buffer, GL_DEPTH_ATTACHMENT_EXT), (GLint)*fbo.depth_buffer);
  GLint width = 0;
  glBindTexture(GL_TEXTURE_2D, *fbo.color_buffer);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  EXPECT_EQ(width, 256);

  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  kroUseFrameBufferObject(&fbo);
  GLint viewport[4], texture = -1, bound = -1;
  glGetIntegerv(GL_VIEWPORT, viewport);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
  glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &bound);
  EXPECT_EQ(viewport[0], 0);
  EXPECT_EQ(viewport[1], 0);
  EXPECT_EQ(viewport[2], 256);
  EXPECT_EQ(viewport[3], 256);
  EXPECT_EQ(texture, 0);
  EXPECT_EQ(bound, (GLint)fbo.frame_buffer);
  glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  GLubyte pixel[4] = {};
  glReadPixels(200, 200, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ(pixel[0], 0);
  EXPECT_EQ(pixel[1], 255);

  GLuint colour = *fbo.color_buffer, depth = *fbo.depth_buffer, frame = fbo.frame_buffer;
  kroDestroyFrameBufferObject(&fbo, 3);
  EXPECT_FALSE(glIsTexture(colour));
  EXPECT_FALSE(glIsRenderbufferEXT(depth));
  EXPECT_FALSE(glIsFramebufferEXT(frame));
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
    EXPECT_EQ(b->color_buffer, owner.color_buffer);
    EXPECT_EQ(b->depth_buffer, owner.depth_buffer);
    EXPECT_NE(b->frame_buffer, owner.frame_buffer);
    EXPECT_EQ(attachmentName(b->frame_buffer, GL_COLOR_ATTACHMENT0_EXT),
              (GLint)*owner.color_buffer);
    EXPECT_EQ(attachmentName(b->frame_buffer, GL_DEPTH_ATTACHMENT_EXT), (GLint)*owner.depth_buffer);
  }
  GLuint frame = borrower1.frame_buffer;
  kroDestroyFrameBufferObject(&borrower1, 0);
  kroDestroyFrameBufferObject(&borrower3, 0);
  EXPECT_FALSE(glIsFramebufferEXT(frame));
  EXPECT_EQ(borrower1.mode, 0);
  EXPECT_TRUE(glIsTexture(*owner.color_buffer));
  EXPECT_TRUE(glIsRenderbufferEXT(*owner.depth_buffer));
  kroDestroyFrameBufferObject(&owner, 3);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(FboTest, OtherModesWithAndWithoutShared) {
  int32_t size[2] = {32, 32};
  kroFrameBufferObject depth_only;
  EXPECT_EQ(kroCreateFrameBufferObject(&depth_only, size, nullptr, 2), 0);
  EXPECT_EQ(depth_only.color_buffer, nullptr);
  ASSERT_NE(depth_only.depth_buffer, nullptr);
  EXPECT_EQ(attachmentType(depth_only.frame_buffer, GL_COLOR_ATTACHMENT0_EXT), GL_NONE);
  EXPECT_EQ(attachmentType(depth_only.frame_buffer, GL_DEPTH_ATTACHMENT_EXT), GL_RENDERBUFFER_EXT);
  EXPECT_EQ(glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT), (GLenum)GL_FRAMEBUFFER_COMPLETE_EXT);

  // With a record given, modes other than 0, 1 and 3 still make their own.
  kroFrameBufferObject own;
  EXPECT_EQ(kroCreateFrameBufferObject(&own, size, &depth_only, 5), 0);
  ASSERT_NE(own.color_buffer, nullptr);
  EXPECT_NE(own.depth_buffer, depth_only.depth_buffer);
  EXPECT_EQ(attachmentType(own.frame_buffer, GL_COLOR_ATTACHMENT0_EXT), GL_TEXTURE);

  // Mode 1 with nothing to borrow from makes both.
  kroFrameBufferObject alone;
  EXPECT_EQ(kroCreateFrameBufferObject(&alone, size, nullptr, 1), 0);
  ASSERT_NE(alone.color_buffer, nullptr);
  ASSERT_NE(alone.depth_buffer, nullptr);
  EXPECT_EQ(attachmentName(alone.frame_buffer, GL_DEPTH_ATTACHMENT_EXT),
            (GLint)*alone.depth_buffer);

  GLuint depth = *depth_only.depth_buffer;
  kroDestroyFrameBufferObject(&depth_only, 2);
  EXPECT_FALSE(glIsRenderbufferEXT(depth));
  kroDestroyFrameBufferObject(&own, 3);
  kroDestroyFrameBufferObject(&alone, 3);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(FboTest, IncompleteTargetsAreReportedAsSuch) {
  // Zero-sized images make both attachments incomplete.
  kroFrameBufferObject empty;
  int32_t nothing[2] = {0, 0};
  EXPECT_EQ(kroCreateFrameBufferObject(&empty, nothing, nullptr, 0), 3);
  EXPECT_NE(empty.color_buffer, nullptr);
  kroDestroyFrameBufferObject(&empty, 3);
  // Only the depth buffer: colour checked complete before it came.
  kroFrameBufferObject depth_only;
  EXPECT_EQ(kroCreateFrameBufferObject(&depth_only, nothing, nullptr, 2), 2);
  kroDestroyFrameBufferObject(&depth_only, 2);
  glGetError();
}

TEST_F(FboTest, FailedCellAllocationLeavesAnEmptyRecord) {
  int32_t size[2] = {16, 16};
  const char *messages[] = {
      "Error during allocating memory for color_buffer in kroCreateFameBufferObject(..)",
      "Error during allocating memory for depth_buffer in kroCreateFameBufferObject(..)"};
  for (int n = 1; n <= 2; n++) {
    kroFrameBufferObject fbo;
    kroFailAllocationAfter(n);
    testing::internal::CaptureStdout();
    EXPECT_EQ(kroCreateFrameBufferObject(&fbo, size, nullptr, 0), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), messages[n - 1]);
    EXPECT_EQ(fbo.frame_buffer, 0u);
    EXPECT_EQ(fbo.color_buffer, nullptr);
    EXPECT_EQ(fbo.depth_buffer, nullptr);
    EXPECT_EQ(fbo.mode, 0);
  }
  EXPECT_EQ(kroTestHookCalls, 2);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

} // namespace
