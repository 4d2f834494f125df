# Socket stack, connection and data path sources.
