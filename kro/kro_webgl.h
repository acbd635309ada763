/*
 * The legacy GL the engine draws with, given its WebGL 1 meaning in a web build (emcc): included
 * by kro.h after the GL headers when __EMSCRIPTEN__ is defined, it renames each legacy call the
 * engine, the intro and the productions make to the layer's own (kro/web/kro_webgl.cpp), and the
 * ARB and EXT names to the core ones WebGL has. The layer keeps the matrix stacks, the current
 * vertex attributes, lights 0 and 1, the front material and the light model; immediate mode and
 * display lists become buffers drawn with glDrawArrays; shader texts get a precision, and the
 * built-in names they read (gl_Vertex, gl_ModelViewMatrix, gl_LightSource, ...) become
 * attributes and uniforms the layer feeds before each draw. A desktop build never sees it.
 */
#ifndef KRO_WEBGL_H
#define KRO_WEBGL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Matrices: the model-view, projection and texture (unit 0) stacks, 32 deep each. */
void kroWebMatrixMode(GLenum mode);
void kroWebLoadIdentity(void);
void kroWebLoadMatrixf(const GLfloat *m);
void kroWebPushMatrix(void);
void kroWebPopMatrix(void);
void kroWebTranslatef(GLfloat x, GLfloat y, GLfloat z);
void kroWebRotatef(GLfloat degrees, GLfloat x, GLfloat y, GLfloat z);
void kroWebScalef(GLfloat x, GLfloat y, GLfloat z);
void kroWebFrustum(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f);
void kroWebOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f);

/* Immediate mode: points, lines, triangles, strips, fans and quads. */
void kroWebBegin(GLenum mode);
void kroWebEnd(void);
void kroWebVertex3f(GLfloat x, GLfloat y, GLfloat z);
void kroWebVertex3fv(const GLfloat *v);
void kroWebVertex2f(GLfloat x, GLfloat y);
void kroWebRecti(GLint x1, GLint y1, GLint x2, GLint y2);
void kroWebNormal3f(GLfloat x, GLfloat y, GLfloat z);
void kroWebNormal3fv(const GLfloat *v);
void kroWebColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a);
void kroWebColor4fv(const GLfloat *v);
void kroWebColor3f(GLfloat r, GLfloat g, GLfloat b);
void kroWebColor3fv(const GLfloat *v);
void kroWebTexCoord2f(GLfloat s, GLfloat t);
void kroWebTexCoord2fv(const GLfloat *v);
void kroWebMultiTexCoord2fv(GLenum unit, const GLfloat *v);

/* Display lists hold the geometry drawn while they are recorded (GL_COMPILE). */
GLuint kroWebGenLists(GLsizei range);
void kroWebNewList(GLuint list, GLenum mode);
void kroWebEndList(void);
void kroWebCallList(GLuint list);
void kroWebDeleteLists(GLuint list, GLsizei range);
GLboolean kroWebIsList(GLuint list);

/* Lights 0 and 1, the front material, the light model. */
void kroWebLightfv(GLenum light, GLenum name, const GLfloat *value);
void kroWebLightf(GLenum light, GLenum name, GLfloat value);
void kroWebLightModelfv(GLenum name, const GLfloat *value);
void kroWebMaterialfv(GLenum face, GLenum name, const GLfloat *value);
void kroWebMaterialf(GLenum face, GLenum name, GLfloat value);

/* State WebGL lacks or reads differently. */
void kroWebEnable(GLenum cap);
void kroWebDisable(GLenum cap);
void kroWebGetIntegerv(GLenum name, GLint *value);
void kroWebTexEnvi(GLenum target, GLenum name, GLint value);
void kroWebPolygonMode(GLenum face, GLenum mode);
void kroWebPushAttrib(GLbitfield mask);
void kroWebPopAttrib(void);
void kroWebReadBuffer(GLenum mode);
void kroWebDrawBuffer(GLenum mode);
void kroWebClearDepth(GLdouble depth);
void kroWebTexImage2D(GLenum target, GLint level, GLint internal, GLsizei width, GLsizei height,
                      GLint border, GLenum format, GLenum type, const void *pixels);
void kroWebGetTexLevelParameteriv(GLenum target, GLint level, GLenum name, GLint *value);
void kroWebReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,
                      void *pixels);
void kroWebRenderbufferStorage(GLenum target, GLenum format, GLsizei width, GLsizei height);

/* Programs: the ARB object calls, and the core ones the engine makes. */
GLhandleARB kroWebCreateShaderObject(GLenum type);
GLhandleARB kroWebCreateProgramObject(void);
void kroWebShaderSource(GLhandleARB shader, GLsizei count, const GLcharARB **text,
                        const GLint *length);
void kroWebLinkProgram(GLhandleARB program);
void kroWebUseProgram(GLhandleARB program);
void kroWebDeleteObject(GLhandleARB object);
void kroWebGetObjectParameteriv(GLhandleARB object, GLenum name, GLint *value);
void kroWebGetInfoLog(GLhandleARB object, GLsizei size, GLsizei *length, GLcharARB *log);

#ifdef __cplusplus
}
#endif

#ifndef KRO_WEBGL_LAYER /* the layer itself calls the real functions */
#define glMatrixMode kroWebMatrixMode
#define glLoadIdentity kroWebLoadIdentity
#define glLoadMatrixf kroWebLoadMatrixf
#define glPushMatrix kroWebPushMatrix
#define glPopMatrix kroWebPopMatrix
#define glTranslatef kroWebTranslatef
#define glRotatef kroWebRotatef
#define glScalef kroWebScalef
#define glFrustum kroWebFrustum
#define glOrtho kroWebOrtho
#define glBegin kroWebBegin
#define glEnd kroWebEnd
#define glVertex3f kroWebVertex3f
#define glVertex3fv kroWebVertex3fv
#define glVertex2f kroWebVertex2f
#define glRecti kroWebRecti
#define glNormal3f kroWebNormal3f
#define glNormal3fv kroWebNormal3fv
#define glColor4f kroWebColor4f
#define glColor4fv kroWebColor4fv
#define glColor3f kroWebColor3f
#define glColor3fv kroWebColor3fv
#define glTexCoord2f kroWebTexCoord2f
#define glTexCoord2fv kroWebTexCoord2fv
#define glMultiTexCoord2fvARB kroWebMultiTexCoord2fv
#define glMultiTexCoord2fv kroWebMultiTexCoord2fv
#define glGenLists kroWebGenLists
#define glNewList kroWebNewList
#define glEndList kroWebEndList
#define glCallList kroWebCallList
#define glDeleteLists kroWebDeleteLists
#define glIsList kroWebIsList
#define glLightfv kroWebLightfv
#define glLightf kroWebLightf
#define glLightModelfv kroWebLightModelfv
#define glMaterialfv kroWebMaterialfv
#define glMaterialf kroWebMaterialf
#define glEnable kroWebEnable
#define glDisable kroWebDisable
#define glGetIntegerv kroWebGetIntegerv
#define glTexEnvi kroWebTexEnvi
#define glPolygonMode kroWebPolygonMode
#define glPushAttrib kroWebPushAttrib
#define glPopAttrib kroWebPopAttrib
#define glReadBuffer kroWebReadBuffer
#define glDrawBuffer kroWebDrawBuffer
#define glClearDepth kroWebClearDepth
#define glTexImage2D kroWebTexImage2D
#define glGetTexLevelParameteriv kroWebGetTexLevelParameteriv
#define glReadPixels kroWebReadPixels
#define glCreateShaderObjectARB kroWebCreateShaderObject
#define glCreateProgramObjectARB kroWebCreateProgramObject
#define glShaderSourceARB kroWebShaderSource
#define glCompileShaderARB glCompileShader
#define glAttachObjectARB glAttachShader
#define glLinkProgramARB kroWebLinkProgram
#define glLinkProgram kroWebLinkProgram
#define glUseProgramObjectARB kroWebUseProgram
#define glUseProgram kroWebUseProgram
#define glDeleteObjectARB kroWebDeleteObject
#define glGetObjectParameterivARB kroWebGetObjectParameteriv
#define glGetInfoLogARB kroWebGetInfoLog
#define glGetUniformLocationARB glGetUniformLocation
#define glUniform1iARB glUniform1i
#define glUniform1fARB glUniform1f
#define glActiveTextureARB glActiveTexture
#define glBindFramebufferEXT glBindFramebuffer
#define glGenFramebuffersEXT glGenFramebuffers
#define glDeleteFramebuffersEXT glDeleteFramebuffers
#define glFramebufferTexture2DEXT glFramebufferTexture2D
#define glFramebufferRenderbufferEXT glFramebufferRenderbuffer
#define glCheckFramebufferStatusEXT glCheckFramebufferStatus
#define glGenRenderbuffersEXT glGenRenderbuffers
#define glDeleteRenderbuffersEXT glDeleteRenderbuffers
#define glBindRenderbufferEXT glBindRenderbuffer
#define glRenderbufferStorageEXT kroWebRenderbufferStorage
#define glRenderbufferStorage kroWebRenderbufferStorage
#define glGenerateMipmapEXT glGenerateMipmap
#endif

#endif
