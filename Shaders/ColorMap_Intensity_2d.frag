#version 120
// Post-classification of a 2D slice: the interpolated density through the
// lookup texture, colour and opacity as the transfer function gives them.
uniform sampler2D density_tex;
uniform sampler1D transfer_tex;

// Densities arrive as 16-bit normalised luminance; texel k of the 2048-texel
// lookup texture holds densities 2k and 2k + 1, so density d lies at
// (d + 0.5) / 4096, kept between the centres of the end texels (the clamped
// border would otherwise bleed in).
vec4 Classify(float normalised)
{
    float d = normalised * 65535.0;
    return texture1D(transfer_tex, clamp((d + 0.5) / 4096.0, 0.5 / 2048.0, 1.0 - 0.5 / 2048.0));
}

void main()
{
    gl_FragColor = Classify(texture2D(density_tex, gl_TexCoord[0].st).r);
}
