// Basic lighting: per-pixel Phong from lights 0 and 1 of the fixed-function state. Built a second
// time with KRO_TEXTURED defined: texture unit 0, through its texture matrix, tints the surface.
varying vec3 pos;
varying vec3 normal;
#ifdef KRO_TEXTURED
varying vec2 tex_coord;
#endif

void main()
{
	pos = vec3(gl_ModelViewMatrix * gl_Vertex);
	normal = normalize(gl_NormalMatrix * gl_Normal);
#ifdef KRO_TEXTURED
	tex_coord = vec2(gl_TextureMatrix[0] * gl_MultiTexCoord0);
#endif
	gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
