// Start-up registration of every picture decoder.
#pragma once

namespace kav {

// Fills the image-loader registry in start-up order: the packed graphics
// container, BMP, JPEG, GIF, then the PNG library. Loaders of one extension
// are tried in that order. Runs once; later calls do nothing. Call it before
// other threads load pictures.
void RegisterImageLoaders();

}  // namespace kav
