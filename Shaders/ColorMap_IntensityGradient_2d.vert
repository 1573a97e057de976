#version 120
// Slice of a 2D stack. The slice has no 3D coordinate of its own: the renderer
// loads the texture matrix of the gradient's unit (2) with the map from model
// units (one per voxel, box centred on the origin) to gradient texture space,
// voxel centres included, and the position is carried through it here.
void main()
{
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_TexCoord[1] = gl_TextureMatrix[2] * gl_Vertex;
    gl_FrontColor = gl_Color;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
    // The crop box and the plane cut the slices through OpenGL's clip planes.
    gl_ClipVertex = gl_ModelViewMatrix * gl_Vertex;
}
