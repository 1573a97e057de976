#version 120
// Intensity and gradient on a plane through the 3D texture: the transfer
// function's colour and opacity scaled by the gradient's length.
uniform sampler3D volume_tex;
uniform sampler1D transfer_tex;
uniform sampler3D gradient_tex;

// A boundary that changes by a quarter of the largest density within two
// voxels shows fully.
const float gradientGain = 4.0;

vec4 Classify(float normalised)
{
    float d = normalised * 65535.0;
    return texture1D(transfer_tex, clamp((d + 0.5) / 4096.0, 0.5 / 2048.0, 1.0 - 0.5 / 2048.0));
}

void main()
{
    vec3 p = gl_TexCoord[0].xyz;
    vec4 color = Classify(texture3D(volume_tex, p).r);
    float weight = clamp(gradientGain * length(texture3D(gradient_tex, p).rgb), 0.0, 1.0);
    gl_FragColor = color * weight;
}
