// The page's files, built into the program from web/page/ (see embed.cmake).
#pragma once

#include <cstddef>

struct WebAsset {
  const char* path;  // "/index.html"
  const char* type;  // Content-Type
  const char* data;
  size_t size;
};

extern const WebAsset kWebAssets[];
extern const size_t kWebAssetCount;
