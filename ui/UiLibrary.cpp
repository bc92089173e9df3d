// The window framework library; its classes arrive with the window layer.
