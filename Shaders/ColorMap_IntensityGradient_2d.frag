#version 120
// Intensity and gradient: the transfer function's colour and opacity, both
// scaled by the gradient's length, so homogeneous regions fade and boundaries
// stand out under every blend mode.
uniform sampler2D density_tex;
uniform sampler1D transfer_tex;
uniform sampler3D gradient_tex;

// Gradients are central differences in units of the volume's largest density:
// a boundary that changes by a quarter of that within two voxels shows fully.
const float gradientGain = 4.0;

vec4 Classify(float normalised)
{
    float d = normalised * 65535.0;
    return texture1D(transfer_tex, clamp((d + 0.5) / 4096.0, 0.5 / 2048.0, 1.0 - 0.5 / 2048.0));
}

void main()
{
    vec4 color = Classify(texture2D(density_tex, gl_TexCoord[0].st).r);
    float weight = clamp(gradientGain * length(texture3D(gradient_tex, gl_TexCoord[1].xyz).rgb), 0.0, 1.0);
    gl_FragColor = color * weight;
}
