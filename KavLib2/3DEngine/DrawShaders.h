// The pixel programs of the draw manager, as named kernels of the software
// device: colour grading, video (YUV planes with grading, deinterlacing and
// chroma keying), unsharp masking, the separable 7-tap Gaussian, the blur
// mix and premultiplied composition. Each has a per-pixel form and a span
// form that gives the same pixels.
//
// Samplers and constants (register numbers):
//   "videomask", "premul", "premul2"   pass the stage-0 texture through
//   "color_grade_video"                s0 Y, s1 U, s2 V, s3 volume lookup;
//                                      c0.x t (grade strength)
//   "color_grade_deinter"              as above; c1 srcsizey (height, 1 /
//                                      height of Y), c2.x offsy (field 0 or 1)
//   "color_grade_chromakey"            as video; c3 deltas (tolerance, 1 /
//                                      tolerance or 0), c4 chromakey (u, v)
//   "color_grade_chroma_deinter"       both of the above
//   "unsharp"                          s0; c0 invsize, c1.x Threshold,
//                                      c2.x amount
//   "gauss_blur_h7", "gauss_blur_v7"   s0; c0 data1 (weights outer to
//                                      centre), c1.x data2 (texel step)
//   "gauss_mix"                        s0 Big, s1 Small; c0.x alpha
//   "premul3"                          s0 content, s1 mask (premultiplied)
//   "color_grading"                    s0 picture, s1 volume lookup; c0.x t
//   "color_grade_linear"               s0 picture, s2 256-entry ramp; c0.x t
// Video and grading results are multiplied by the vertex colour.
#pragma once

#include <string>
#include <vector>

namespace kav {

// Registers every kernel (idempotent, thread-safe), with its GLSL form for
// the OpenGL device (DrawShadersGl.cpp).
void RegisterDrawKernels();
void RegisterDrawKernelSources();
// The shader code (a kernel blob) of a named program; registers the kernels
// first.
std::string LoadShaderCode(const std::string& name);
// The 14 programs the drawer makes, in its order.
const std::vector<std::string>& DrawShaderNames();

}  // namespace kav
