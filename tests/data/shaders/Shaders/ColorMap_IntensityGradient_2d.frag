uniform sampler2D density_tex;
uniform sampler1D transfer_tex;
uniform sampler3D gradient_tex;

void main()
{
    vec4 color = texture1D(transfer_tex, texture2D(density_tex, gl_TexCoord[0].st).r * 16.0);
    float g = clamp(length(texture3D(gradient_tex, vec3(gl_TexCoord[0].st, 0.5)).xyz), 0.0, 1.0);
    gl_FragColor = vec4(color.rgb * (0.5 + 0.5 * g), color.a);
}
