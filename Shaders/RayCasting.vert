#version 120
// Screen-filling quad: texture coordinate set 0 is the fragment's place in the
// entry and exit images.
void main()
{
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_FrontColor = gl_Color;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
