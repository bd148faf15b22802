// Replaced by the georeferencing sources.
