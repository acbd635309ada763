varying vec3 pos;
varying vec3 normal;
#ifdef KRO_TEXTURED
uniform sampler2D texture;
varying vec2 tex_coord;
#endif

vec4 lightContribution(gl_LightSourceParameters light, vec3 n, vec4 surface)
{
	vec3 to_light = normalize(light.position.xyz - pos);
	vec3 half_vector = normalize(to_light - normalize(pos));
	float diffuse = max(dot(n, to_light), 0.0);
	float specular = diffuse > 0.0 ? pow(max(dot(n, half_vector), 0.0), gl_FrontMaterial.shininess) : 0.0;
	return surface * light.ambient * diffuse + light.ambient * specular * 0.5;
}

void main()
{
	vec3 n = normalize(normal);
	vec4 surface = gl_FrontMaterial.ambient;
#ifdef KRO_TEXTURED
	surface *= texture2D(texture, tex_coord);
#endif
	vec4 color = gl_LightModel.ambient * surface + gl_FrontMaterial.emission;
	color += lightContribution(gl_LightSource[0], n, surface);
	color += lightContribution(gl_LightSource[1], n, surface);
	gl_FragColor = vec4(color.rgb, 1.0);
}
