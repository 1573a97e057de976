#version 120
// Ray casting through the volume's box, compositing front to back.
//
// Spaces: c, the box's coordinates in [0, 1]^3; the displayed space, c scaled
// by texture matrix 1 so that the largest side is 1 and every voxel has its
// true proportions (steps, opacity and lighting are measured there); bricks
// of 1 or 4 voxels a side, laid half a voxel off the voxels, texture matrix 2
// (with a shift); the 3D textures, texture matrix 3, of which the data fill
// only a share; the occupancy texture, texture matrix 5 from bricks.
uniform sampler2D entry_tex;
uniform sampler2D exit_tex;
uniform sampler1D transfer_tex;
// The densities, read where there is no gradient texture.
uniform sampler3D density_tex;
// Per voxel the gradient and, in alpha, the density over 4096: one fetch
// gives a sample both.
uniform sampler3D gradient_tex;
uniform int adaptiveStepSize;
uniform int lighting;
// Sampling distance along the ray in the displayed space (not a number of
// samples).
uniform float sampleCount;
// Density window: densities above maxIntensity * 4096 are transparent.
uniform float maxIntensity;
// Added to every pixel's offset of its first sample, in steps: frames of a
// view at rest, each with another offset, average to the picture of a finer
// step.
uniform float sampleOffset;
// Per brick, in luminance times 255: 0 where the brick may show
// something, else how many bricks away the nearest such brick is, counted
// along the axis that needs most. Every brick closer than that is empty.
uniform sampler3D occupancy_tex;
// Where the gradient texture could not be held (a volume too large for the
// driver or the memory), GRADIENTS_FROM_DENSITIES is defined and the
// gradients come from the density texture, whose texels number texelCount
// along each axis; gradientScale turns the differences of its normalised
// densities into the gradient texture's units.
uniform vec3 texelCount;
uniform vec3 gradientScale;
// The crop box, in c, and the plane, which keeps the points c with
// dot(clipPlane.xyz, c) <= clipPlane.w (all of them where the plane is off);
// clipNormal is its normal in the displayed space.
uniform vec3 cropLow;
uniform vec3 cropHigh;
uniform vec4 clipPlane;
uniform vec3 clipNormal;
// Where a ray enters or leaves the kept part through a face that cuts the
// volume, that face is drawn opaque: 1 in the transfer function's colours,
// 2 in grey levels over greyWindow (densities); 0 not at all.
uniform int cutFace;
uniform vec2 greyWindow;
// 0 composites front to back; 1 keeps, channel by channel, the largest
// colour of the samples the transfer function shows (maximum intensity), 2
// the smallest (minimum intensity), as the slicing methods' blend does.
uniform int projection;
// A pass takes SAMPLES_PER_PASS samples (2 unless defined). Where the
// gradients come from the densities and the samples of a pass all lie within
// 0.375 voxel of its middle, SHARED_GRADIENTS is defined: one gradient a pass
// lights them all, taken where they show. Coarser steps take each sample's
// own. These are builds of this shader, chosen by the step: a software
// rasteriser runs both sides of a branch.
#ifndef SAMPLES_PER_PASS
#define SAMPLES_PER_PASS 2
#endif

varying vec4 nearPoint;
varying vec4 depthPoint;
varying vec4 eyePoint;

// The lookup texture on unit 2 holds, for the ray caster, each opacity
// already corrected for the sampling distance: the transfer function's
// opacity is that of a slab 0.01 thick (the default step), so a finer step
// does not make the volume more opaque.
// A ray stops here: what lies behind cannot show any more.
const float opaque = 0.99;
// Guard for the finest step (0.001) across the box's diagonal, two samples a
// pass, with the leaps over empty bricks.
const int maxIterations = 8192;

// d in density levels; texel k of the lookup texture holds densities 2k and
// 2k + 1, so density d lies at (d + 0.5) / 4096, kept between the centres of
// the end texels, and the nearest texel is read.
vec4 Classify(float d)
{
    return texture1D(transfer_tex, clamp((d + 0.5) / 4096.0, 0.5 / 2048.0, 1.0 - 0.5 / 2048.0));
}

// Blinn-Phong with the light at the viewer, so the half vector is the view
// direction. Gradients are differences between neighbouring voxels divided
// by the voxels' spacing, per unit length as in the displayed space, so the
// gradient is a normal there as it stands. It points from dense to less dense material; both sides of a
// boundary are lit. Where it vanishes there is no normal, and the shading
// fades out towards the unlit colour.
// The gradient texture holds central differences at the voxels; interpolated
// linearly they equal the central differences, one voxel either side, of the
// linearly interpolated densities, which six fetches of the densities give.
#ifdef GRADIENTS_FROM_DENSITIES
vec3 Gradient(vec3 texturePoint)
{
    vec3 h = 1.0 / texelCount;
    return gradientScale * vec3(texture3D(density_tex, texturePoint - vec3(h.x, 0.0, 0.0)).r -
                                    texture3D(density_tex, texturePoint + vec3(h.x, 0.0, 0.0)).r,
                                texture3D(density_tex, texturePoint - vec3(0.0, h.y, 0.0)).r -
                                    texture3D(density_tex, texturePoint + vec3(0.0, h.y, 0.0)).r,
                                texture3D(density_tex, texturePoint - vec3(0.0, 0.0, h.z)).r -
                                    texture3D(density_tex, texturePoint + vec3(0.0, 0.0, h.z)).r);
}
#endif

vec3 Shade(vec3 color, vec3 g, vec3 toViewer)
{
    float magnitude = length(g);
    float weight = smoothstep(0.004, 0.03, magnitude);
    float cosine = abs(dot(g, toViewer)) / max(magnitude, 1e-6);
    float c2 = cosine * cosine;
    float c4 = c2 * c2;
    float c16 = c4 * c4 * c4 * c4;
    vec3 lit = color * (0.3 + 0.7 * cosine) + vec3(0.3 * c16 * c16);
    return mix(color, lit, weight);
}

// Front to back: what lies behind shows through what is in front.
void Composite(inout vec4 sum, vec4 c, vec3 gradient, vec3 toViewer)
{
    float alpha = c.a;
    // A branch, not a selection: a selection would shade every sample.
    vec3 color = c.rgb;
    if (lighting != 0) {
        color = Shade(c.rgb, gradient, toViewer);
    }
    sum.rgb += (1.0 - sum.a) * alpha * color;
    sum.a += (1.0 - sum.a) * alpha;
}

float DensityAt(vec3 texturePoint)
{
#ifdef GRADIENTS_FROM_DENSITIES
    return texture3D(density_tex, texturePoint).r * 65535.0;
#else
    return texture3D(gradient_tex, texturePoint).a * 4096.0;
#endif
}

// A cut face's colour, lit flat by its angle to the viewer; alpha 0 where
// the face is clear: nothing shows there, or the density lies below the grey
// window.
vec4 FaceColor(vec3 texturePoint, vec3 normal, vec3 toViewer)
{
    float d = DensityAt(texturePoint);
    vec3 color;
    if (cutFace == 2) {
        if (d < greyWindow.x) {
            return vec4(0.0);
        }
        color = vec3(clamp((d - greyWindow.x) / max(greyWindow.y - greyWindow.x, 1.0), 0.0, 1.0));
    } else {
        vec4 c = Classify(d);
        if (c.a <= 0.0 || d > maxIntensity * 4096.0 + 0.5) {
            return vec4(0.0);
        }
        color = c.rgb;
    }
    return vec4(color * (0.3 + 0.7 * abs(dot(normal, toViewer))), 1.0);
}

// The normal of the crop box's face across axis 0, 1 or 2 of c: the
// displayed space keeps the box's axes.
vec3 AxisNormal(int axis)
{
    return axis == 0 ? vec3(1.0, 0.0, 0.0) : axis == 1 ? vec3(0.0, 1.0, 0.0) : vec3(0.0, 0.0, 1.0);
}

// A per-pixel offset in [0, 1) of the first sample, white noise without a
// pattern, which turns wood-grain banding into fine grain.
float Jitter(vec2 pixel)
{
    vec3 p = fract(vec3(pixel.xyx) * 0.1031);
    p += dot(p, p.yzx + 33.33);
    return fract((p.x + p.y) * p.z);
}

void main()
{
    vec3 origin = nearPoint.xyz / nearPoint.w;
    vec3 ray = depthPoint.xyz / depthPoint.w - origin;
    vec3 eye = eyePoint.xyz / eyePoint.w;
    // A ray parallel to a face gets a tiny component instead of none.
    ray += vec3(equal(ray, vec3(0.0))) * 1e-20;
    vec3 inverse = 1.0 / ray;
    vec3 t0 = (cropLow - origin) * inverse;
    vec3 t1 = (cropHigh - origin) * inverse;
    vec3 tNear = min(t0, t1);
    vec3 tFar = max(t0, t1);
    // A camera close to or inside the box sees it from where it stands: the
    // ray starts at the eye, before the near plane (t = 0).
    float tEye = dot(eye - origin, ray) / dot(ray, ray);
    float tBoxEnter = max(max(tNear.x, tNear.y), tNear.z);
    float tEnter = max(tBoxEnter, tEye);
    float tExit = min(min(tFar.x, tFar.y), tFar.z);
    // The faces the ray enters and leaves by, and whether each cuts the
    // volume: a side of the crop box inside it, or the plane.
    int enterAxis = tNear.x >= tNear.y && tNear.x >= tNear.z ? 0 : tNear.y >= tNear.z ? 1 : 2;
    int leaveAxis = tFar.x <= tFar.y && tFar.x <= tFar.z ? 0 : tFar.y <= tFar.z ? 1 : 2;
    vec3 lowCuts = vec3(greaterThan(cropLow, vec3(0.0)));
    vec3 highCuts = vec3(lessThan(cropHigh, vec3(1.0)));
    vec3 ascending = step(0.0, ray);
    bool enterCut = tBoxEnter >= tEye && mix(highCuts, lowCuts, ascending)[enterAxis] > 0.5;
    bool leaveCut = mix(lowCuts, highCuts, ascending)[leaveAxis] > 0.5;
    vec3 enterNormal = AxisNormal(enterAxis);
    vec3 leaveNormal = AxisNormal(leaveAxis);
    float facing = dot(clipPlane.xyz, ray);
    float side = dot(clipPlane.xyz, origin) - clipPlane.w;
    if (facing > 0.0) {
        float tPlane = -side / facing;
        if (tPlane < tExit) {
            tExit = tPlane;
            leaveCut = true;
            leaveNormal = clipNormal;
        }
    } else if (facing < 0.0) {
        float tPlane = -side / facing;
        if (tPlane > tEnter) {
            tEnter = tPlane;
            enterCut = true;
            enterNormal = clipNormal;
        }
    } else if (side > 0.0) {
        tExit = tEnter;
    }
    // The entry and exit images tell which pixels the box covers, seen from
    // outside; each fragment intersects its own ray with the box for the
    // exact points.
    vec3 entry = texture2D(entry_tex, gl_TexCoord[0].st).rgb;
    vec3 leave = texture2D(exit_tex, gl_TexCoord[0].st).rgb;
    bool inside = all(greaterThan(eye, vec3(0.0))) && all(lessThan(eye, vec3(1.0)));
    if ((dot(entry + leave, vec3(1.0)) == 0.0 && !inside) || tExit <= tEnter) {
        gl_FragColor = vec4(0.0);
        return;
    }

    // Samples lie at (k + jitter) steps from the near plane, k integer, so
    // neighbouring rays sample alike and a leap over empty bricks lands on
    // exactly the samples that the march without leaps visits.
    float stepLength = max(sampleCount, 0.0001);
    vec3 displayed = mat3(gl_TextureMatrix[1]) * ray;
    float stepT = stepLength / length(displayed);
    vec3 toViewer = -normalize(displayed);
    vec3 textureOrigin = mat3(gl_TextureMatrix[3]) * origin;
    vec3 textureRay = mat3(gl_TextureMatrix[3]) * ray;
    if (cutFace != 0 && enterCut) {
        vec4 face = FaceColor(textureOrigin + textureRay * tEnter, enterNormal, toViewer);
        if (face.a > 0.0) {
            gl_FragColor = face;
            return;
        }
    }
    float jitter = fract(Jitter(gl_FragCoord.xy) + sampleOffset);
    int k = int(ceil(tEnter / stepT - jitter));
    // Pass m takes samples n m to n m + n - 1, with leaps and without, so
    // that the samples of a pass share one gradient alike; a sample before
    // the entry point counts as transparent.
    const int n = SAMPLES_PER_PASS;
    int first = k;
    k = n * int(floor(float(k) / float(n)));
    int end = int(ceil(tExit / stepT - jitter));
    float window = maxIntensity * 4096.0 + 0.5;
    bool leap = adaptiveStepSize != 0;

    mat3 toBricks = mat3(gl_TextureMatrix[2]);
    mat3 toOccupancy = mat3(gl_TextureMatrix[5]);
    vec3 brickOrigin = (gl_TextureMatrix[2] * vec4(origin, 1.0)).xyz;
    vec3 brickRay = toBricks * ray;
    brickRay += vec3(equal(brickRay, vec3(0.0))) * 1e-20;
    vec3 brickInverse = 1.0 / brickRay;
    vec3 brickAhead = step(0.0, brickRay);

    // A software rasteriser runs a group of pixels in lockstep, and a GPU
    // does the same in its warps: one loop whose passes look alike for
    // neighbouring rays. A pass takes n samples, whose texture fetches
    // overlap, as do their gradients; the shading runs only where a sample is
    // visible. The leap loop is entered only when a sample leaves the last
    // occupied brick, with one occupancy fetch a leap. The later samples of a
    // pass may lie in an empty brick, where they are transparent anyway.
    int budget = maxIterations;
    float occupiedUntil = -1e30;
    vec4 sum = vec4(0.0);
    vec4 extreme = vec4(projection == 2 ? 1.0 : 0.0);
    bool shown = false;
    for (; k < end && sum.a < opaque && budget > 0; --budget) {
        float t = (float(k) + jitter) * stepT;
        if (leap && t >= occupiedUntil) {
            for (; budget > 0; --budget) {
                vec3 brick = floor(brickOrigin + brickRay * t);
                float gap = floor(texture3D(occupancy_tex, toOccupancy * (brick + 0.5)).r * 255.0 + 0.5);
                // The cube of bricks around this one that are all empty, or
                // the occupied brick itself; where the ray leaves it.
                float reach = max(gap, 1.0);
                vec3 tSide = (brick + mix(vec3(1.0 - reach), vec3(reach), brickAhead) - brickOrigin) * brickInverse;
                float tLeave = min(min(tSide.x, tSide.y), tSide.z);
                if (gap == 0.0) {
                    occupiedUntil = tLeave;
                    break;
                }
                // Every sample inside the empty cube is transparent: go on
                // with the first sample past its far side.
                int next = int(ceil(tLeave / stepT - jitter - 0.001));
                k = next > k ? next : k + 1;
                t = (float(k) + jitter) * stepT;
                if (k >= end) {
                    break;
                }
            }
            if (k >= end) {
                break;
            }
            // The pass's samples before the one landed on lie in the empty
            // cube.
            k = n * int(floor(float(k) / float(n)));
        }
        vec3 along = textureRay * stepT;
        vec3 p = textureOrigin + textureRay * ((float(k) + jitter) * stepT);
        vec4 c[n];
        vec3 g[n];
        for (int i = 0; i < n; ++i) {
            vec3 q = p + along * float(i);
#ifdef GRADIENTS_FROM_DENSITIES
            float d = texture3D(density_tex, q).r * 65535.0;
            g[i] = vec3(0.0);
#else
            vec4 texel = texture3D(gradient_tex, q);
            float d = texel.a * 4096.0;
            g[i] = texel.rgb;
#endif
            c[i] = d > window || k + i < first || k + i >= end ? vec4(0.0) : Classify(d);
        }
#ifdef SHARED_GRADIENTS
        // Where the pass's samples show, as much as each shows through those
        // before it: at an opaque surface its first sample, in a veil about
        // the middle.
        float through = 1.0;
        float weight = 0.0;
        float at = 0.0;
        for (int i = 0; i < n; ++i) {
            float w = through * c[i].a;
            weight += w;
            at += w * float(i);
            through *= 1.0 - c[i].a;
        }
        if (lighting != 0) {
            vec3 shared = Gradient(p + along * (weight > 0.0 ? at / weight : 0.5 * float(n - 1)));
            for (int i = 0; i < n; ++i) {
                g[i] = shared;
            }
        }
#endif
        if (projection != 0) {
            // A projection looks at every sample shown; empty bricks show
            // nothing, so the leaps stay exact.
            for (int i = 0; i < n; ++i) {
                if (c[i].a > 0.0) {
                    extreme = projection == 1 ? max(extreme, c[i]) : min(extreme, c[i]);
                    shown = true;
                }
            }
            k += n;
            continue;
        }
        for (int i = 0; i < n; ++i) {
            if (c[i].a > 0.0 && sum.a < opaque) {
#if defined(GRADIENTS_FROM_DENSITIES) && !defined(SHARED_GRADIENTS)
                if (lighting != 0) {
                    g[i] = Gradient(p + along * float(i));
                }
#endif
                Composite(sum, c[i], g[i], toViewer);
            }
        }
        k += n;
    }
    if (projection != 0) {
        gl_FragColor = shown ? extreme : vec4(0.0);
        return;
    }
    // A ray stopped as opaque is opaque: nothing behind shows, the
    // background in a transparent picture neither.
    if (sum.a >= opaque) {
        sum.a = 1.0;
    }
    // A cut face behind the kept part shows through it.
    if (cutFace != 0 && leaveCut && sum.a < opaque) {
        vec4 face = FaceColor(textureOrigin + textureRay * tExit, leaveNormal, toViewer);
        sum.rgb += (1.0 - sum.a) * face.rgb;
        sum.a += (1.0 - sum.a) * face.a;
    }
    gl_FragColor = sum;
}
