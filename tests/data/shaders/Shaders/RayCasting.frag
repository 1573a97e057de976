// A plain front-to-back march between the entry and exit points.
uniform sampler2D entry_tex;
uniform sampler2D exit_tex;
uniform sampler1D transfer_tex;
uniform sampler3D density_tex;
uniform sampler3D gradient_tex;
uniform int adaptiveStepSize;
uniform int lighting;
uniform float sampleCount;
uniform float maxIntensity;

void main()
{
    vec3 entry = texture2D(entry_tex, gl_TexCoord[0].st).rgb;
    vec3 exit = texture2D(exit_tex, gl_TexCoord[0].st).rgb;
    vec3 ray = exit - entry;
    float len = length(ray);
    float step = max(sampleCount, 0.005);
    vec4 sum = vec4(0.0);
    float t = 0.0;
    for (int i = 0; i < 400; ++i) {
        if (t >= len || sum.a >= 0.95) {
            break;
        }
        vec3 p = entry + ray * (t / max(len, 0.0001));
        float d = min(texture3D(density_tex, p).r * 16.0, maxIntensity);
        vec4 c = texture1D(transfer_tex, d);
        if (lighting == 1) {
            c.rgb *= 0.5 + 0.5 * clamp(length(texture3D(gradient_tex, p).xyz), 0.0, 1.0);
        }
        sum += (1.0 - sum.a) * vec4(c.rgb * c.a, c.a);
        // Empty space is crossed in double steps.
        t += (adaptiveStepSize == 1 && c.a == 0.0) ? 2.0 * step : step;
    }
    gl_FragColor = sum;
}
