// Textured: texture unit 0 modulated by the vertex colour.
varying vec2 tex_coord;
varying vec4 color;

void main()
{
	tex_coord = vec2(gl_MultiTexCoord0);
	color = gl_Color;
	gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
