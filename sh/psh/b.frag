// A light 3x3 blur of the canvas texture, one canvas pixel per tap.
uniform sampler2D canvas;
varying vec2 tex_coord;

void main()
{
	vec2 texel = vec2(1.0 / float(CANVAS_RESX), 1.0 / float(CANVAS_RESY));
	vec4 sum = vec4(0.0);
	for (int dy = -1; dy <= 1; dy++)
		for (int dx = -1; dx <= 1; dx++)
			sum += texture2D(canvas, tex_coord + vec2(float(dx), float(dy)) * texel);
	gl_FragColor = mix(texture2D(canvas, tex_coord), sum / 9.0, 0.5);
}
