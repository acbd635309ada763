// Tilts the normal by the bump texture's slope (unit 1) and scales the highlight
// by the specular texture (unit 0).
uniform sampler2D specular_map;
uniform sampler2D bump_map;
varying vec2 tex_coord;
varying vec3 pos;
varying vec3 hv;
varying vec3 normal;

const float TEXEL_SIZE_X = 0.001953125;
const float TEXEL_SIZE_Y = 0.015625;

vec3 rotateVectorXY(vec3 v, float angle)
{
	return vec3(v.x * cos(angle) - v.y * sin(angle), v.x * sin(angle) + v.y * cos(angle), v.z);
}

vec3 rotateVectorYZ(vec3 v, float angle)
{
	return vec3(v.x, v.y * cos(angle) - v.z * sin(angle), v.y * sin(angle) + v.z * cos(angle));
}

void main()
{
	float strength = gl_LightSource[0].position.w;
	float shininess = 1.0 - gl_FrontMaterial.shininess / 128.0 * texture2D(specular_map, tex_coord).x;
	float current = texture2D(bump_map, tex_coord).x;
	float up = texture2D(bump_map, vec2(tex_coord.x, tex_coord.y + TEXEL_SIZE_Y)).x;
	float right = texture2D(bump_map, vec2(tex_coord.x + TEXEL_SIZE_X, tex_coord.y)).x;
	vec3 n = rotateVectorXY(normal, right - current < 0.0 ? current * strength : -current * strength);
	n = rotateVectorYZ(n, up - current < 0.0 ? current * strength : -current * strength);
	n = normalize(gl_NormalMatrix * n);
	float diffuse = clamp(dot(normalize(gl_LightSource[0].position.xyz - pos), n), 0.0, 0.96);
	float specular = pow(max(dot(normalize(hv), n), 0.0), shininess * 128.0) * shininess;
	gl_FragColor = gl_FrontMaterial.ambient * gl_LightSource[0].ambient * diffuse + gl_LightSource[0].ambient * specular;
}
