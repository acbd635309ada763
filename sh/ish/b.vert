// Basic lighting: per-pixel Phong from lights 0 and 1 of the fixed-function state.
varying vec3 pos;
varying vec3 normal;

void main()
{
	pos = vec3(gl_ModelViewMatrix * gl_Vertex);
	normal = normalize(gl_NormalMatrix * gl_Normal);
	gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
