// platform: see the header of the same name.
