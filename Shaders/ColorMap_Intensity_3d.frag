#version 120
// Post-classification of a plane through the 3D texture: the trilinearly
// interpolated density through the lookup texture.
uniform sampler3D volume_tex;
uniform sampler1D transfer_tex;

// Density d (16-bit normalised) lies at (d + 0.5) / 4096 of the lookup
// texture, whose texel k holds densities 2k and 2k + 1.
vec4 Classify(float normalised)
{
    float d = normalised * 65535.0;
    return texture1D(transfer_tex, clamp((d + 0.5) / 4096.0, 0.5 / 2048.0, 1.0 - 0.5 / 2048.0));
}

void main()
{
    gl_FragColor = Classify(texture3D(volume_tex, gl_TexCoord[0].xyz).r);
}
