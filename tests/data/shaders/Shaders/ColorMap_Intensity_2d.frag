// Densities reach 4096 of 65535: scaled by 16 they span the lookup texture.
uniform sampler2D density_tex;
uniform sampler1D transfer_tex;

void main()
{
    gl_FragColor = texture1D(transfer_tex, texture2D(density_tex, gl_TexCoord[0].st).r * 16.0);
}
