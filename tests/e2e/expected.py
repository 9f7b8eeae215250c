"""What the peer should receive for a model snapshot, worked out from the snapshot alone.

The element lists take, per object, the "Guid", "Name", "IfcEntity" and "ObjectType" values (the
last occurrence wins) and gather every other property of the sets from index 1 on as
"#name#value"; spatial containers (by "ObjectType") and objects without a GUID are left out.
Each text becomes 8-bit text: characters up to U+00FF keep their value, the 27 that Windows-1252
adds at 0x80..0x9F (euro sign, dashes, ...) become those bytes, every other character becomes '?',
and a text longer than its field keeps what fits before the terminating zero.
"""

CONTAINERS = ('IfcProject', 'IfcSite', 'IfcBuilding', 'IfcBuildingStorey')
REQUEST_SELECTION, REQUEST_DRAG, REQUEST_UPDATE = 1024, 1025, 1026


def number_text(value):
    return '%f' % value


def value_text(value):
    if value is None:
        # A text property without a value is read from its 8 zero value bytes as a number.
        return number_text(0.0)
    if isinstance(value, bool):
        return 'TRUE' if value else 'FALSE'
    if isinstance(value, (int, float)):
        return number_text(float(value))
    return value


WIDTHS = {'guid': 100, 'texto': 1000, 'entidad': 100, 'tipo': 100, 'ficheros': 1000, 'propiedad': 10000}


def narrow_char(c):
    if ord(c) <= 0xFF:
        return c
    try:
        return c.encode('cp1252').decode('latin-1')  # Python's own table, not the plugin's
    except UnicodeEncodeError:
        return '?'


def narrow(text, field):
    """The field text as the monitor logs it (the 8-bit bytes read back as Latin-1 characters)."""
    converted = ''.join(narrow_char(c) for c in text)
    return converted[:WIDTHS[field] - 1]


def element(obj):
    """The five texts of one object, or None when it stays out of the transfer."""
    texts = {'Guid': '', 'Name': '', 'IfcEntity': '', 'ObjectType': ''}
    gathered = ''
    for j, pset in enumerate(obj.get('property_sets') or []):
        for prop in pset.get('properties') or []:
            name = prop['name']
            value = prop.get('value')
            if name in texts:
                texts[name] = value if isinstance(value, str) else ''
            elif j >= 1:
                gathered += '#' + name + '#' + value_text(value)
    if not texts['Guid'] or texts['ObjectType'] in CONTAINERS:
        return None
    return texts, gathered


def record(obj, files, code):
    texts, gathered = element(obj)
    bounds = obj.get('bounds') or [0.0] * 6
    totals = '#VOLUMEN#%f#AREA#%f' % (obj.get('volume') or 0.0, obj.get('area') or 0.0)
    return {
        'guid': narrow(texts['Guid'], 'guid'),
        'texto': narrow(texts['Name'], 'texto'),
        'entidad': narrow(texts['IfcEntity'], 'entidad'),
        'tipo': narrow(texts['ObjectType'], 'tipo'),
        'ficheros': narrow(''.join(f + '#' for f in files), 'ficheros'),
        'dx': float(bounds[3] - bounds[0]),
        'dy': float(bounds[4] - bounds[1]),
        'dz': float(bounds[5] - bounds[2]),
        'codigo': code,
        'propiedad': narrow(gathered + totals, 'propiedad'),
    }


def records(model, code, objects=None):
    """The records of one transfer of `objects` (every object of the model by default)."""
    chosen = model['objects'] if objects is None else objects
    files = model.get('files') or []
    return [record(o, files, code) for o in chosen if element(o) is not None]


def guid_of(obj):
    found = element(obj)
    return found[0]['Guid'] if found else None


def compare_records(got, want):
    """Field-by-field differences, as readable lines."""
    problems = []
    if len(got) != len(want):
        problems.append('%d records arrived, %d expected' % (len(got), len(want)))
    for i, (g, w) in enumerate(zip(got, want)):
        for field in ('guid', 'texto', 'entidad', 'tipo', 'ficheros', 'dx', 'dy', 'dz', 'codigo', 'propiedad'):
            if g.get(field) != w[field]:
                problems.append('record %d (%s) %s: got %r, expected %r' %
                                (i, w['guid'], field, g.get(field), w[field]))
    return problems
