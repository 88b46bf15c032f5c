// Replaced by the kit's sources.
