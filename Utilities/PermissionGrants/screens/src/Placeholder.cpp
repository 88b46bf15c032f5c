// Replaced by the screens' sources.
