// Keeps the library non-empty until its resources arrive.
