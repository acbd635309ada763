// Bump lighting: light 0's position is a point in eye space, its w the bump strength.
varying vec2 tex_coord;
varying vec3 pos;
varying vec3 hv;
varying vec3 normal;

void main()
{
	tex_coord = vec2(gl_MultiTexCoord0);
	pos = vec3(gl_ModelViewMatrix * gl_Vertex);
	hv = normalize(gl_LightSource[0].position.xyz - pos) - normalize(pos);
	normal = gl_Normal;
	gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
