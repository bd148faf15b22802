// Replaced by the mosaic sources.
