// Post-processing pass over a full-screen quad; the canvas size arrives as
// CANVAS_RESX and CANVAS_RESY, defined in front of this file.
varying vec2 tex_coord;

void main()
{
	tex_coord = vec2(gl_MultiTexCoord0);
	gl_Position = gl_Vertex;
}
