// Database classes over unixODBC's wide API: see database.h.
