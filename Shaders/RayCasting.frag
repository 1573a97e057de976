#version 120
// Ray casting between the entry and the exit point of each pixel's ray, both
// in texture space [0, 1]^3, compositing front to back.
uniform sampler2D entry_tex;
uniform sampler2D exit_tex;
uniform sampler1D transfer_tex;
uniform sampler3D density_tex;
uniform sampler3D gradient_tex;
uniform int adaptiveStepSize;
uniform int lighting;
// Sampling distance along the ray in texture space (not a number of samples).
uniform float sampleCount;
// Density window: densities above maxIntensity * 4096 are transparent.
uniform float maxIntensity;

// The lookup texture's opacity is that of a slab this thick (the default
// step); other steps correct it, so a finer step does not make the volume
// more opaque.
const float referenceStep = 0.01;
// A ray stops here: what lies behind cannot show any more.
const float opaque = 0.99;
// Through fully transparent stretches the adaptive march takes ever longer
// steps, up to this many at once or this distance in texture space (8
// voxels of a 256-wide volume), whichever is longer.
const int maxStride = 8;
const float maxSkip = 0.032;
// Guard for the finest step (0.001) across the cube's diagonal, with room for
// the adaptive march's step-backs.
const int maxIterations = 8192;

// Densities arrive as 16-bit normalised luminance; texel k of the lookup
// texture holds densities 2k and 2k + 1, so density d lies at (d + 0.5) / 4096,
// kept between the centres of the end texels.
vec4 Classify(float d)
{
    return texture1D(transfer_tex, clamp((d + 0.5) / 4096.0, 0.5 / 2048.0, 1.0 - 0.5 / 2048.0));
}

// Blinn-Phong with the light at the viewer, so the half vector is the view
// direction. The gradient points from dense to less dense material; both sides
// of a boundary are lit. Where the gradient vanishes there is no normal, and
// the shading fades out towards the unlit colour.
vec3 Shade(vec3 color, vec3 p, vec3 toViewer)
{
    vec3 g = texture3D(gradient_tex, p).rgb;
    float magnitude = length(g);
    float weight = smoothstep(0.004, 0.03, magnitude);
    if (weight <= 0.0) {
        return color;
    }
    float cosine = abs(dot(g, toViewer)) / magnitude;
    float c2 = cosine * cosine;
    float c4 = c2 * c2;
    float c16 = c4 * c4 * c4 * c4;
    vec3 lit = color * (0.3 + 0.7 * cosine) + vec3(0.3 * c16 * c16);
    return mix(color, lit, weight);
}

// A point of the cube's surface has a coordinate at 0 or 1. Where the entry
// and exit images are filtered across the cube's outline, their colours are
// pulled towards the black background, into the cube: such a ray is bogus.
bool OnSurface(vec3 c)
{
    const float margin = 0.02;
    return min(min(c.x, c.y), c.z) <= margin || max(max(c.x, c.y), c.z) >= 1.0 - margin;
}

// Per-pixel offset in [0, 1) that turns wood-grain banding into fine noise.
float Jitter(vec2 pixel)
{
    return fract(52.9829189 * fract(dot(pixel, vec2(0.06711056, 0.00583715))));
}

void main()
{
    vec3 entry = texture2D(entry_tex, gl_TexCoord[0].st).rgb;
    vec3 leave = texture2D(exit_tex, gl_TexCoord[0].st).rgb;
    vec3 ray = leave - entry;
    float len = length(ray);
    float stepLength = max(sampleCount, 0.0001);
    if (len < 0.0001 || !OnSurface(entry) || !OnSurface(leave)) {
        gl_FragColor = vec4(0.0);
        return;
    }
    vec3 dir = ray / len;
    float jitter = Jitter(gl_FragCoord.xy);
    float window = maxIntensity * 4096.0 + 0.5;
    bool adaptive = adaptiveStepSize != 0;

    // The ray is cut into intervals of one step, the last one shorter; each
    // is represented by one sample at the pixel's jitter fraction within it
    // and weighted by its real length.
    //
    // A software rasteriser runs a group of pixels in lockstep and pays for
    // every branch of a loop's body on every pass, so the search for the next
    // visible sample (one density and one lookup fetch) is a loop of its own
    // and the gradient fetch and compositing run once per visible sample.
    int intervals = int(ceil(len / stepLength));
    int last = intervals - 1;
    int longest = int(max(float(maxStride), floor(maxSkip / stepLength)));
    // Opacity correction: exponent of a whole interval, and of the last one.
    float exponent = stepLength / referenceStep;
    float lastExponent = (len - float(last) * stepLength) / referenceStep;
    int i = 0;
    int stride = 1;
    int lastVisited = -1;
    int fineUntil = -1;
    int budget = maxIterations;
    vec4 sum = vec4(0.0);
    while (i < intervals && sum.a < opaque && budget > 0) {
        vec3 p;
        vec4 c;
        for (; budget > 0; --budget) {
            float start = float(i) * stepLength;
            p = entry + dir * (start + jitter * min(stepLength, len - start));
            float d = texture3D(density_tex, p).r * 65535.0;
            c = d > window ? vec4(0.0) : Classify(d);
            if (c.a > 0.0) {
                if (i <= lastVisited + 1) {
                    break;
                }
                // A long step landed in visible material: go back to the
                // interval after the last one visited and continue finely up
                // to here.
                fineUntil = i;
                i = lastVisited + 1;
                stride = 1;
            } else {
                lastVisited = i;
                if (adaptive && i >= fineUntil && i < last) {
                    // A long step stops at the last interval, so the stretch
                    // before the exit is always sampled (GLSL 1.20 has no
                    // integer min).
                    i = i + stride < last ? i + stride : last;
                    stride = stride * 2 < longest ? stride * 2 : longest;
                } else {
                    i += 1;
                }
                if (i >= intervals) {
                    break;
                }
            }
        }
        if (i >= intervals || budget <= 0) {
            break;
        }
        --budget;
        stride = 1;
        float alpha = 1.0 - pow(max(1.0 - c.a, 0.0), i < last ? exponent : lastExponent);
        vec3 color = lighting != 0 ? Shade(c.rgb, p, -dir) : c.rgb;
        sum.rgb += (1.0 - sum.a) * alpha * color;
        sum.a += (1.0 - sum.a) * alpha;
        lastVisited = i;
        i += 1;
    }
    gl_FragColor = sum;
}
