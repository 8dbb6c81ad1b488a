# -*- coding: utf-8 -*-
"""Runs ordelctl on the managed host and folds its JSON lines into results.

Every camera rule (what to skip, refuse, verify, when to stop) is ordelctl's;
the modules only build its command line and read back what it printed.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

from ansible.module_utils.basic import AnsibleModule

# The results and plans that make a task fail: each names a camera that did
# not get, or would not get, what the task asked for.
FAILING_RESULTS = ('failed', 'interrupted', 'not started', 'missing')
FAILING_PLANS = ('refuse', 'missing')

# ordelctl's exit codes, as its help lists them.
EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2



def new_module(options):
    """A module with its own options and the shared executable. Every module
    runs in check mode: each says what it does there."""
    options = dict(options, executable=dict(type='str', default='ordelctl'))
    return AnsibleModule(options, supports_check_mode=True)


def executable_path(module):
    """The ordelctl to run: a bare name is looked up on the managed host's PATH."""
    name = module.params['executable']
    if os.sep in name:
        if not os.access(name, os.X_OK):
            module.fail_json(msg='%s is not an executable file on the managed host' % name)
        return name
    path = module.get_bin_path(name)
    if not path:
        module.fail_json(msg='%s was not found on the PATH of the managed host: install the '
                             'ordel-toolkits package there, or give executable' % name)
    return path


def option_args(params, flags):
    """ordelctl options from module parameters: flags maps a parameter to its
    option; a parameter left out, or a false boolean, gives nothing."""
    args = []
    for name, flag in flags:
        value = params.get(name)
        if value is None or value is False:
            continue
        args.append(flag)
        if value is not True:
            args.append(str(value))
    return args


def parse_lines(text):
    """The JSON objects of ordelctl's standard output, one a line. A line that
    is anything else raises ValueError naming it: a wrong executable or a
    changed output must not pass for a camera's result."""
    objects = []
    for line in text.splitlines():
        if not line.strip():
            continue
        try:
            value = json.loads(line)
        except ValueError:
            value = None
        if not isinstance(value, dict):
            raise ValueError(line)
        objects.append(value)
    return objects


def run(module, command, options, addresses=None):
    """Runs ordelctl COMMAND OPTIONS --json [-- ADDRESSES] as an argument list,
    never through a shell; returns its exit code, JSON objects and standard
    error. The addresses follow "--", so none is ever taken for an option."""
    argv = [executable_path(module), command] + options + ['--json']
    if addresses:
        argv += ['--'] + list(addresses)
    rc, out, err = module.run_command(argv)
    try:
        objects = parse_lines(out)
    except ValueError as error:
        module.fail_json(msg='ordelctl printed a line that is not a JSON object: %s' % error,
                         rc=rc, stderr=err)
    return rc, objects, err


def with_key(objects, key):
    return [item for item in objects if key in item]


def addresses(objects, key, values):
    return [item.get('ip') for item in objects if item.get(key) in values]


def named(objects, key, values):
    """'IP (message)' for each object whose key is one of values; the word is
    added where it is not the first of values, so a missing camera reads as
    such among failed ones."""
    texts = []
    for item in objects:
        word = item.get(key)
        if word not in values:
            continue
        why = item.get('message', item.get('reason', ''))
        if word != values[0]:
            why = '%s: %s' % (word, why)
        texts.append('%s (%s)' % (item.get('ip'), why))
    return ', '.join(texts)


def stderr_reason(rc, err):
    """ordelctl's own word for a refusal or an error, or its exit code where
    it said nothing."""
    text = err.strip()
    return text if text else 'ordelctl ended with exit code %d' % rc
