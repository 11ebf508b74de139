// An assembly with no classes of its own: its TypeDef table holds only the module row.
