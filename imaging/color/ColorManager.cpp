// placeholder until the colour manager lands
