// Flat colour: the vertex colour passes through unlit.
varying vec4 color;

void main()
{
	color = gl_Color;
	gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
