// placeholder until the picture loader lands
