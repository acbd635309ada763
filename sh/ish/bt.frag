uniform sampler2D texture;
varying vec2 tex_coord;
varying vec4 color;

void main()
{
	gl_FragColor = texture2D(texture, tex_coord) * color;
}
