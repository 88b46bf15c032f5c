// Replaced by the view models' sources.
