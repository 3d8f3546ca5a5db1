// Keeps a library that has no source yet linkable.
