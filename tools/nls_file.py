"""What the table generators share: reading one of Wine's .nls files and
writing a table of units for an .inc file."""
import sys


def read(program, path, what):
    """The bytes of `path`, or an exit naming `program` and `what` it is."""
    try:
        with open(path, 'rb') as f:
            return f.read()
    except OSError as e:
        fail(program, f'cannot read the {what}: {e}')


def fail(program, message):
    sys.exit(f'{program}: {message}')


def write_table(comment, pairs, value_digits):
    """Writes `comment` (its lines) and then `pairs` of unit and value as C
    initialisers, five to a line, the value in `value_digits` hex digits."""
    out = sys.stdout
    for line in comment:
        out.write(f'// {line}\n')
    for i in range(0, len(pairs), 5):
        out.write('  ' + ' '.join(f'{{0x{u:04x}, 0x{v:0{value_digits}x}}},'
                                  for u, v in pairs[i:i + 5]) + '\n')
