#version 120
// A cut face reads like a slice of a scan: opaque, the density's colour
// (its opacity left out) where the transfer function shows it, or grey
// levels over a window; clear where nothing shows, so a hollow stays open.
uniform sampler3D density_tex;
uniform sampler1D transfer_tex;
uniform int grey;
// The window in densities: below its low end the face is clear.
uniform vec2 greyWindow;
// The lookup texture holds colours times their opacity.
uniform int premultiplied;
// Flat lighting of the whole face by its angle to the viewer.
uniform float shade;

void main()
{
    float d = texture3D(density_tex, gl_TexCoord[0].xyz).r * 65535.0;
    vec3 color;
    if (grey != 0) {
        if (d < greyWindow.x) {
            discard;
        }
        color = vec3(clamp((d - greyWindow.x) / max(greyWindow.y - greyWindow.x, 1.0), 0.0, 1.0));
    } else {
        vec4 c = texture1D(transfer_tex, clamp((d + 0.5) / 4096.0, 0.5 / 2048.0, 1.0 - 0.5 / 2048.0));
        if (c.a <= 0.0) {
            discard;
        }
        color = premultiplied != 0 ? c.rgb / c.a : c.rgb;
    }
    gl_FragColor = vec4(color * shade, 1.0);
}
