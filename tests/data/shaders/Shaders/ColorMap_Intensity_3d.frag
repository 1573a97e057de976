uniform sampler3D volume_tex;
uniform sampler1D transfer_tex;

void main()
{
    gl_FragColor = texture1D(transfer_tex, texture3D(volume_tex, gl_TexCoord[0].stp).r * 16.0);
}
