// Keeps the library non-empty until the rules arrive.
