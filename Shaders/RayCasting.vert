#version 120
// Screen-filling quad: texture coordinate set 0 is the fragment's place in the
// entry and exit images. Each corner also carries, in the box's coordinates,
// the points of its ray on the near plane and half-way into the depth range;
// both are linear over the quad in homogeneous form, so every fragment gets
// its own exact ray. The eye is the projection's centre, the point that clip
// space holds at (0, 0, 1, 0).
varying vec4 nearPoint;
varying vec4 depthPoint;
varying vec4 eyePoint;

void main()
{
    gl_TexCoord[0] = gl_MultiTexCoord0;
    vec2 ndc = gl_MultiTexCoord0.st * 2.0 - 1.0;
    nearPoint = gl_TextureMatrix[0] * vec4(ndc, -1.0, 1.0);
    depthPoint = gl_TextureMatrix[0] * vec4(ndc, 0.0, 1.0);
    eyePoint = gl_TextureMatrix[0] * vec4(0.0, 0.0, 1.0, 0.0);
    gl_FrontColor = gl_Color;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
