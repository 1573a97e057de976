#version 120
// Plane through the 3D texture: density and gradient share one coordinate.
void main()
{
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_FrontColor = gl_Color;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
    // The crop box and the plane cut the slices through OpenGL's clip planes.
    gl_ClipVertex = gl_ModelViewMatrix * gl_Vertex;
}
