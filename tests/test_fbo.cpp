// Framebuffer objects on a real context: every mode's attachments as GL reports them, truthful
// completeness, rendering into a target, sharing and the deletion of owned attachments only.
#include "gl_context.h"

#include <utility>

namespace {

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

TEST_F(FboTest, EveryModeAttachesItsCellsModeZeroRendersAndOnlyOwnedCellsAreDeleted) {
  kroFrameBufferObject fbo, borrower1, borrower3, depth_only, own, alone;
  int32_t size[2] = {256, 256};
  EXPECT_EQ(kroCreateFrameBufferObject(&fbo, size, nullptr, 0), 0);
  ASSERT_TRUE(fbo.mode == 0 && fbo.color_buffer && fbo.depth_buffer);
  EXPECT_EQ(attached(fbo), held(fbo));
  // Modes 1 and 3 borrow both cells; a borrowed attachment is checked like any other.
  EXPECT_EQ(kroCreateFrameBufferObject(&borrower1, size, &fbo, 1), 0);
  EXPECT_EQ(kroCreateFrameBufferObject(&borrower3, size, &fbo, 3), 0);
  for (kroFrameBufferObject *b : {&borrower1, &borrower3}) {
    EXPECT_TRUE(b->color_buffer == fbo.color_buffer && b->depth_buffer == fbo.depth_buffer);
    EXPECT_NE(b->frame_buffer, fbo.frame_buffer);
    EXPECT_EQ(attached(*b), held(fbo));
  }
  // Mode 2: depth only. With a record given, modes other than 0, 1 and 3 still make their own;
  // mode 1 with nothing to borrow from makes both.
  EXPECT_EQ(kroCreateFrameBufferObject(&depth_only, size, nullptr, 2), 0);
  EXPECT_EQ(kroCreateFrameBufferObject(&own, size, &depth_only, 5), 0);
  EXPECT_EQ(kroCreateFrameBufferObject(&alone, size, nullptr, 1), 0);
  ASSERT_TRUE(!depth_only.color_buffer && depth_only.depth_buffer && own.color_buffer &&
              own.depth_buffer && own.depth_buffer != depth_only.depth_buffer &&
              alone.color_buffer && alone.depth_buffer);
  for (kroFrameBufferObject *f : {&depth_only, &own, &alone})
    EXPECT_EQ(attached(*f), held(*f));

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
}

TEST_F(FboTest, IncompleteTargetsAndFailedCellAllocations) {
  // Zero-sized images: both attachments incomplete (3); with depth only, colour counts complete.
  kroFrameBufferObject empty, depth_only, fbo;
  int32_t nothing[2] = {0, 0}, size[2] = {16, 16};
  EXPECT_EQ(kroCreateFrameBufferObject(&empty, nothing, nullptr, 0), 3);
  EXPECT_NE(empty.color_buffer, nullptr);
  kroDestroyFrameBufferObject(&empty, 3);
  EXPECT_EQ(kroCreateFrameBufferObject(&depth_only, nothing, nullptr, 2), 2);
  kroDestroyFrameBufferObject(&depth_only, 2);
  glGetError();
  for (const char *cell : {"color_buffer", "depth_buffer"}) {
    kroTestExpectReport([&] { EXPECT_EQ(kroCreateFrameBufferObject(&fbo, size, nullptr, 0), -1); },
                        std::string("Error during allocating memory for ") + cell +
                            " in kroCreateFameBufferObject(..)",
                        cell[0] == 'c' ? 1 : 2);
    EXPECT_TRUE(fbo.frame_buffer == 0 && !fbo.color_buffer && !fbo.depth_buffer && fbo.mode == 0);
  }
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

// Modes 1 and 3 borrow both cells and own none: a record made with mode 2 alone
// has no colour cell to lend, so the creation is refused, not crashed.
TEST_F(FboTest, BorrowingFromARecordWithoutAColourCellIsRefused) {
  kroFrameBufferObject depth_only, fbo;
  int32_t size[2] = {16, 16};
  ASSERT_GE(kroCreateFrameBufferObject(&depth_only, size, nullptr, 2), 0);
  ASSERT_TRUE(depth_only.color_buffer == nullptr && depth_only.depth_buffer != nullptr);
  GLint bound_before = 0;
  glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &bound_before);
  for (int mode : {1, 3}) {
    SCOPED_TRACE(mode);
    kroTestExpectReport(
        [&] { EXPECT_EQ(kroCreateFrameBufferObject(&fbo, size, &depth_only, mode), -1); },
        "Error in kroCreateFameBufferObject(..): the shared framebuffer object has no color "
        "buffer to lend\n");
    EXPECT_TRUE(fbo.frame_buffer == 0 && !fbo.color_buffer && !fbo.depth_buffer && fbo.mode == 0);
    GLint bound = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &bound);
    EXPECT_EQ(bound, bound_before); // nothing was made or bound
  }
  EXPECT_EQ(attached(depth_only), Names(0, (GLint)*depth_only.depth_buffer));
  kroDestroyFrameBufferObject(&depth_only, 2);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

} // namespace
