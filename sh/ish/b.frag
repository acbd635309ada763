varying vec3 pos;
varying vec3 normal;

vec4 lightContribution(gl_LightSourceParameters light, vec3 n)
{
	vec3 to_light = normalize(light.position.xyz - pos);
	vec3 half_vector = normalize(to_light - normalize(pos));
	float diffuse = max(dot(n, to_light), 0.0);
	float specular = diffuse > 0.0 ? pow(max(dot(n, half_vector), 0.0), gl_FrontMaterial.shininess) : 0.0;
	return gl_FrontMaterial.ambient * light.ambient * diffuse + light.ambient * specular * 0.5;
}

void main()
{
	vec3 n = normalize(normal);
	vec4 color = gl_LightModel.ambient * gl_FrontMaterial.ambient + gl_FrontMaterial.emission;
	color += lightContribution(gl_LightSource[0], n);
	color += lightContribution(gl_LightSource[1], n);
	gl_FragColor = vec4(color.rgb, 1.0);
}
