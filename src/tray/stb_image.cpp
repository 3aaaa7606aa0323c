// The PNG decoder, compiled once for the whole program: PNG only, from memory only.

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb/stb_image.h>
