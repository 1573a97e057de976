uniform sampler3D volume_tex;
uniform sampler1D transfer_tex;
uniform sampler3D gradient_tex;

void main()
{
    vec4 color = texture1D(transfer_tex, texture3D(volume_tex, gl_TexCoord[0].stp).r * 16.0);
    float g = clamp(length(texture3D(gradient_tex, gl_TexCoord[0].stp).xyz), 0.0, 1.0);
    gl_FragColor = vec4(color.rgb * (0.5 + 0.5 * g), color.a);
}
