#version 120
// A face where the crop box or the plane cuts through the volume: its
// corners carry their place in the density texture.
void main()
{
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
